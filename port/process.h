// Processes: finding them, opening them, starting them and ending them.
#pragma once

#include "port/types.h"

#include <cstdint>
#include <memory>
#include <string>

namespace port {

// The separator of directories in a path: '\\' on Windows, '/' on POSIX.
extern const char kPathSeparator;

// The canonical form of `path` (its short 8.3 form on Windows, the resolved
// absolute path on POSIX) into *canonical. False, with LastError(), when the
// path cannot be resolved (for instance the file does not exist).
bool CanonicalPath(const char* path, std::string* canonical);

// The ids of the running processes, at most `capacity` of them. A *count
// equal to `capacity` means the list may have been cut short: ask again with
// a larger buffer.
bool ListProcessIds(std::uint32_t* ids, std::uint32_t capacity, std::uint32_t* count);

// The id of this process.
std::uint32_t CurrentProcessId();

// The canonical name (as CanonicalPath gives it) of the executable that the
// process with this id runs, read without keeping the process open. False,
// with LastError(), when it cannot be read.
bool ProcessImageById(std::uint32_t processId, std::string* image);

// Opens a process with every access right, not inheritable; null on failure.
Handle OpenProcessFull(std::uint32_t processId);

// The full path of the executable of an open process (its first module).
// False, with LastError(), when it cannot be read.
bool ProcessImageName(Handle process, std::string* image);

// Starts the program `file`, minimised where the system has windows, with
// `parameters`, in `directory` (or the default directory when null): the
// shell's "open" verb on Windows; on POSIX no shell is run, the parameters
// are split into words as a shell would split them. With an `output`
// handle (a pipe's write end) the program's standard output and error go
// there (on Windows it is then started as an executable, without the shell,
// its input on NUL); without one, they go nowhere (POSIX: /dev/null). On
// success returns true and sets *process to the new process's handle, which
// may be null when the system started nothing it could hand back. On failure
// returns false, with LastError(). `environment`
// (NAME=VALUE strings ending in a null) is added to the environment the
// program inherits, replacing variables of the same name; on Windows the
// program is then started as an executable, as with `output`. With a
// `container` (port/containment.h) the program runs in it from its first
// instruction where the system allows (Linux; Windows with CreateProcessA),
// else from right after its start (Windows' shell start); when it cannot be
// put there the start fails. With a `user` (where kStartsAsOtherUsers,
// port/user.h) the program runs as that account, with its groups; a user
// other than this process's own gets, instead of this process's
// environment, a clean one (the account's HOME, USER, LOGNAME and SHELL, a
// plain PATH, this process's LANG, LC_* and TZ), to which `environment` is
// added. Such a user needs root, and the start fails without it as it
// fails for a user that does not exist.
bool StartProgram(const char* file, const char* parameters, const char* directory, Handle* process,
                  Handle output = kNullHandle, const char* const* environment = nullptr,
                  Handle container = kNullHandle, const char* user = nullptr);

// Starts a copy of this program with `arguments` (ending in a null) and its
// standard input on `input`, on its own: in a session of its own (POSIX), with
// no console window (Windows), its output nowhere. Returns its process
// handle, signalled once it has ended; closing it leaves the process to run
// on (and to be reaped once it ends). Null, with LastError() set, when it
// could not be started.
Handle StartDetachedCopy(const char* const* arguments, Handle input);

// The id of the process behind an open process handle; 0 on failure.
std::uint32_t ProcessIdOf(Handle process);

// Opens a process for termination only; null, with LastError(), when it
// cannot be opened or this process may not end it. LastError() is
// kErrorNoProcess when no process has the id (it has ended).
Handle OpenProcessForTermination(std::uint32_t processId);

// Ends a process at once with the given exit code (where the system records one).
bool TerminateProcessHandle(Handle process, std::uint32_t exitCode);

// Keeps a process from running, and so from starting others, until it is
// ended. On Linux a session leader (every application the manager starts)
// is stopped with its whole process group in one step, which also stops
// the children its members are forking at that moment. Does nothing where
// the system offers no such step (Windows). Returns whether it stopped one.
bool SuspendProcess(std::uint32_t processId);

// True when the process is stopped (SIGSTOP, a debugger, job control);
// always false on Windows, which stops nothing.
bool ProcessStopped(std::uint32_t processId);

// Lets a process that was left stopped (by a stop that its manager did not
// live to finish) run again, with the rest of the group it leads in its own
// session, as SuspendProcess stopped it. False when it was not stopped
// (always on Windows, which stops nothing).
bool ResumeIfStopped(std::uint32_t processId);

// Ends at once every process of the group that `processId` leads as the
// leader of its own session (Linux: the group the manager created for an
// application), without reading the process list. Never touches the group of
// this process. False when there is no such group (always on Windows).
bool EndProcessGroup(std::uint32_t processId);

// Asks a process to end, so that it can finish its work first: SIGTERM on
// POSIX (or `signal`, a number SignalNumber gave, when not 0), followed by
// SIGCONT, so that a stopped process acts on it at once; on Windows
// WM_CLOSE posted to each of its top-level windows (a console program's
// console window turns that into CTRL_CLOSE_EVENT). False when nothing could
// be asked (no such process, or no window).
bool AskProcessToEnd(std::uint32_t processId, int signal = 0);

// Asks every process of the group that `processId` leads to end, in one step
// (SIGTERM to the group on Linux, then SIGCONT as AskProcessToEnd sends it),
// so that children being forked at that moment are asked too. Never the
// group of this process, nor a group that `processId` does not lead. False
// when there is no such group (always on Windows).
bool AskProcessGroupToEnd(std::uint32_t processId, int signal = 0);

// The number of the signal named `name`, with or without "SIG", in any case:
// TERM, INT, QUIT, HUP, USR1, USR2, WINCH, KILL, STOP or CONT. False where
// the system has no signals (Windows), or for any other name.
bool SignalNumber(const char* name, int* number);

// Sends the signal `signal` (a number SignalNumber gave) to the process
// behind `process` alone. False, with LastError(), when it cannot.
bool SendSignal(Handle process, int signal);

// A snapshot of the process list as (id, parent id) rows, in the system's order.
struct ProcessSnapshot;

// Null when no snapshot could be taken.
ProcessSnapshot* OpenProcessSnapshot();
bool FirstProcess(ProcessSnapshot* snapshot, ProcessRecord* record);
bool NextProcess(ProcessSnapshot* snapshot, ProcessRecord* record);
void CloseProcessSnapshot(ProcessSnapshot* snapshot);

// Owns a snapshot: closes it when it goes.
struct ProcessSnapshotCloser {
    void operator()(ProcessSnapshot* snapshot) const { CloseProcessSnapshot(snapshot); }
};
using UniqueProcessSnapshot = std::unique_ptr<ProcessSnapshot, ProcessSnapshotCloser>;

// How a process ended.
struct ExitStatus {
    bool bySignal;          // POSIX: a signal ended it; `value` is the signal's number
    std::uint32_t value;    // the exit code, or the signal's number
    const char* signalName; // "SIGSEGV" and the like; null when not known
};

// Reads how the process behind an open handle ended, once it has ended,
// leaving the handle and the process as they are (nothing is reaped). False
// when the system keeps no status for it that this process may read (on
// POSIX, a process that is not our child).
bool ReadExitStatus(Handle process, ExitStatus* status);

// True once the process behind an open handle has ended (a zombie has).
bool ProcessEnded(Handle process);

// How long ago, in milliseconds, the process behind an open handle started;
// 0 when the system does not tell.
std::uint64_t ProcessAgeMs(Handle process);

} // namespace port
