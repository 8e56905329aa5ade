// Internal seams between the files of the POSIX back end. Not part of the
// port interface; the core never includes this.
#pragma once

#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"
#include "port/types.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <dirent.h>
#include <string>
#include <sys/types.h>
#include <vector>

struct pollfd;
struct sockaddr_un;

namespace port::posix {

// Records `error` (an errno value) as the result of LastError(), and
// `text`, when given, as what LastErrorText() says of it.
void SetError(int error);
void SetError(int error, const std::string& text);

// --- console.cpp ---------------------------------------------------------

// True when `handle` is the console input handle.
bool IsConsoleInput(Handle handle);
// True when `handle` is one of the console's handles (input or output).
bool IsConsoleHandle(Handle handle);
// True when input waits for the core (the input handle is signalled): keys,
// a key sequence still to be settled, or a change of the terminal's size.
bool ConsoleInputWaiting();
// Appends the descriptors that signal the console input besides the
// terminal itself (the size-change notice) to `fds` (events POLLIN).
void AppendConsolePollFds(std::vector<pollfd>& fds);
// Sleeps `milliseconds` while reading and stamping the terminal's bytes as
// they arrive; false (not slept) when the console does not collect input.
bool SleepWatchingConsole(std::uint32_t milliseconds);
// Writes the window title sequence when the console is available.
void WriteTitle(const char* title);

// --- handles.cpp ---------------------------------------------------------

// Remembers that `fd` is a pidfd of process `pid`.
void RememberProcess(int fd, int pid);
// The pid recorded for `fd`, or 0 when `fd` is not a known process handle.
int RecordedPid(int fd);
// Closes a handle: a pidfd of one of our children is reaped first, or, while
// the child still runs, kept for a later WaitAny to reap.
void CloseDescriptor(int fd);
// Appends the descriptors the reaper waits on to `fds` (events POLLIN).
void AppendReaperPollFds(std::vector<pollfd>& fds);
// Reaps what can be reaped now.
void SettleReaps();
// Number of descriptors kept for reaping (tests).
std::size_t PendingReaps();
// True while a handle (open, or given up and waiting to reap) has this pid:
// that child is reaped through its handle, never by the orphan reaper.
bool ProcessHeld(int pid);

// The pid the kernel shows for a pidfd: -1 once the process was reaped, 0
// when it cannot be read.
int FdinfoPid(int fd);

// Moves a new descriptor above 0..2 (handles never use them); closes the
// original. Returns the new descriptor, or -1 with errno set.
int AboveStandardDescriptors(int fd);

// --- process.cpp -----------------------------------------------------------

// Opens a pidfd (close-on-exec, above 0..2); -1 with errno set on failure.
int OpenPidfd(std::uint32_t processId);
// Sends `signal` (0: only checks that it may) to the process of a pidfd.
int PidfdSignal(int fd, int signal);

// --- process_list.cpp --------------------------------------------------------

// True, with the number in *pid, when `name` is all digits (a /proc entry of
// a process).
bool ParsePid(const char* name, std::uint32_t* pid);

// Opens /proc and calls visit(directory, pid) for each process in the order
// read, with `directory` the open /proc, while visit returns true. False,
// with LastError set, when /proc cannot be opened or read to its end.
template <typename Visit> bool ForEachProcessId(Visit visit) {
    const UniqueDir proc(sys.opendir("/proc"));
    if (!proc) {
        SetError(errno);
        return false;
    }
    const int directory = ::dirfd(proc.Get());
    int error = 0;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(proc.Get());
        if (entry == nullptr) {
            error = errno;
            break;
        }
        std::uint32_t pid = 0;
        if (ParsePid(entry->d_name, &pid) && !visit(directory, pid))
            break;
    }
    if (error != 0) {
        SetError(error);
        return false;
    }
    return true;
}

// --- user.cpp --------------------------------------------------------------

// What a program started as another user runs with.
struct Account {
    std::string name;
    std::string home;
    std::string shell; // its login shell; /bin/sh when the entry names none
    uid_t userId = 0;
    gid_t groupId = 0;
    std::vector<gid_t> groups; // its supplementary groups, its own group among them
};

// Reads the account `name` from the password and group databases. False,
// with SetError (ENOENT when there is no such user), when it cannot.
bool LookUpAccount(const char* name, Account* account);
// The same without its groups: the password database's entry alone.
bool ReadPasswordEntry(const char* name, Account* account);

// --- spawn.cpp -------------------------------------------------------------

// The PATH of a program started as another user.
inline constexpr char kPlainPath[] =
    "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// The environment a program of another user's account starts from, rather
// than this process's: the account's HOME, USER, LOGNAME and SHELL, a plain
// PATH, and LANG, LC_* and TZ where `inherited` (NAME=VALUE strings ending
// in a null) has them; nothing else of `inherited` (a secret, a PATH of
// this user's, this program's own variables).
std::vector<std::string> AccountEnvironment(const Account& account, const char* const* inherited);

// --- spawn_fork.cpp --------------------------------------------------------

// Starts `path` with `argv` and `envp` by fork and exec, where posix_spawn
// cannot: in the cgroup of the open directory `cgroup` (when not null)
// and as `account` (when not null), as spawn.cpp starts a program
// otherwise: a session of its own, signals at their defaults, standard
// input on `input` and output and error on `output` (/dev/null for null
// handles), in `directory` when not null. On success *process is a pidfd of
// the child, remembered.
bool SpawnByFork(const char* path, char* const* argv, char* const* envp, const char* directory,
                 Handle input, Handle output, Handle cgroup, const Account* account, int* process);

// --- service.cpp -----------------------------------------------------------

// The address of systemd's notification socket from the value of
// NOTIFY_SOCKET: a path, or an abstract name written with a leading '@'.
// False for no value or one that names no socket.
bool NotifyAddress(const char* value, sockaddr_un* address, socklen_t* length);

// --- probe.cpp -------------------------------------------------------------

// What WaitAny polls `fd` for: POLLOUT for a connection under way (it is
// decided once writable), else POLLIN.
short PollEventsOf(int fd);

// --- runtime_directory.cpp -------------------------------------------------

// The directory of this user's own that holds the single-instance lock (and
// any other endpoint only this user may reach), from the user id alone, so
// that every manager of the user finds the same one whatever its session set
// (see DefaultRuntimeDirectory); $ZELKAPPMGR_RUNTIME_DIR (absolute) instead
// when set. Created when missing and verified: this user's, not a link, mode
// 0700 (made so when it is the default one). Returns its path, or an empty
// string with *problem set to one line saying why there is none.
std::string RuntimeDirectory(std::string* problem);

// The default place of the runtime directory of user `uid`, where no other
// user can take the name first: /run/zelkappmgr for root (when /run is a
// directory), /run/user/<uid>/zelkappmgr for another user whose
// /run/user/<uid> exists and is theirs alone, else /tmp/zelkappmgr-<uid>.
std::string DefaultRuntimeDirectory(unsigned uid, bool runIsDirectory, bool runUserIsTheirs);

} // namespace port::posix
