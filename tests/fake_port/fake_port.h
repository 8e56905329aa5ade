// A scripted stand-in for the operating system, linked with the core in the
// unit tests: an in-memory screen, a queue of input records, scriptable wait
// results and a table of processes that the core can list, open, start and end.
#pragma once

#include "port/file.h"
#include "port/screen_grid.h"
#include "port/types.h"
#include "port/usage.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fake {

struct Process {
    std::uint32_t pid = 0;
    std::uint32_t parentPid = 0;
    std::string image;    // full path of its executable; empty: cannot be read
    bool openable = true; // can be opened with full access
    bool killable = true; // can be opened for termination
    bool terminateFails = false;
    bool alive = true;
    // How it ended, as ReadExitStatus tells it.
    bool statusReadable = true;
    bool endedBySignal = false;
    std::uint32_t exitValue = 0; // exit code or signal number
    std::uint64_t ageMs = 0;     // how long ago it started
    std::uint32_t sessionId = 0; // the leader of its session; 0: none
    std::uint32_t groupId = 0;   // the leader of its group; 0: none
    bool endsWhenAsked = true;   // AskProcessToEnd (or its group's) ends it
    bool stopped = false;        // left stopped: ResumeIfStopped continues it
    // Its arguments after the program's name; unreadable when not set.
    bool argumentsReadable = true;
    std::vector<std::string> arguments;
    std::uint64_t startTime = 0; // 0: taken from its id
    std::string container;       // the container that holds it; empty: none
    std::uint32_t userId = 0;    // the user it runs as
};

struct Launch {
    std::string file;
    std::string parameters;
    std::string directory;                // "<none>" when no directory was given
    std::uint32_t pid = 0;                // 0 when the launch failed
    bool outputCaptured = false;          // started with an output handle
    std::vector<std::string> environment; // added variables
    std::string container;                // the container it was started in
    std::string user;                     // the user it was started as; empty: the manager's
};

struct State {
    // Console.
    bool consoleAvailable = true;
    port::ScreenGrid screen;
    port::Coord cursor{0, 0};
    port::CursorInfo cursorInfo{25, true};
    std::uint32_t inputMode = 0;
    bool scrollFails = false;
    int scrollsBeforeFailure = -1; // from 0 on, counts down; every scroll fails at 0
    int outputCalls = 0;           // calls that change the screen, the cursor or its shape
    std::vector<port::InputRecord> input;
    bool readFails = false;
    // Called whenever the input queue has been read empty, so a test can
    // feed keys that "arrive" while the program works.
    int countInputCalls = 0;

    // Waiting. Handles listed here count as signalled in addition to ended
    // processes and waiting console input.
    std::vector<port::Handle> signalled;
    std::vector<std::uint32_t> sleeps;
    int waits = 0;
    int failedWaits = 0;
    // Called at the start of every wait, before anything is looked at.
    std::function<void(int wait)> onWait;

    // Single-instance guard and window.
    bool guardTaken = false;
    std::string guardRefusal; // non-empty: the guard is refused with this text
    bool consoleRestored = false;
    std::string windowTitle;
    bool closeItemRemoved = false;

    // Processes, in the order the system lists them.
    std::vector<Process> processes;
    std::map<std::string, std::string> shortNames; // path as given -> canonical form
    bool listFails = false;                        // ListProcesses fails
    bool listGivesNoRows = false;                  // ListProcesses succeeds with no first row
    std::uint32_t nextPid = 1000;
    std::uint32_t launchError = 0;    // non-zero: StartProgram fails with it
    bool launchWithoutHandle = false; // StartProgram succeeds without a process
    bool launchedEndsAtOnce = false;
    bool processIdFails = false; // ProcessIdOf answers 0 // launched processes are dead on arrival
    std::vector<Launch> launches;
    // The accounts UserIdByName knows, by name.
    std::vector<std::pair<std::string, std::uint32_t>> users{{"root", 0}, {"nobody", 65534}};
    std::function<void()> onLaunch;                         // called at every StartProgram
    std::vector<std::uint32_t> killed;                      // ids in the order they were terminated
    std::function<void(std::uint32_t)> onTerminate;         // after a process was terminated
    std::vector<std::uint32_t> suspended;                   // SuspendProcess calls
    std::vector<std::uint32_t> endedGroups;                 // groups ended by EndProcessGroup
    std::vector<std::uint32_t> asked;                       // AskProcessToEnd calls, in order
    std::vector<std::uint32_t> askedGroups;                 // AskProcessGroupToEnd calls that asked
    std::vector<int> askSignals;                            // the signal of each AskProcessToEnd
    std::vector<std::pair<std::uint32_t, int>> signalsSent; // SendSignal: (pid, signal)

    // Files opened for appending: path -> everything written to it. Paths
    // listed in `unopenable` cannot be opened (a directory, say).
    std::map<std::string, std::string> files;
    std::vector<std::string> unopenable;
    int fileWrites = 0;
    bool fileWriteFails = false;
    std::vector<std::string> directories; // made by MakeDirectory
    std::uint32_t renameError = 0;        // non-zero: RenameFile fails with it
    int renames = 0;                      // RenameFile calls
    // What ReadPathInfo tells of these paths; other paths are files when
    // `files` has them, directories when `directories` has them, else
    // missing.
    std::map<std::string, port::PathInfo> pathInfo;
    // What ReadPathComponents tells of these paths; any other path is one
    // component of a trusted owner, or missing when it is neither a
    // directory nor a file.
    std::map<std::string, std::vector<port::PathComponent>> pathComponents;
    // Copies of the program started with StartDetachedCopy: their arguments
    // and process ids.
    std::vector<std::vector<std::string>> detached;
    std::vector<std::uint32_t> detachedPids;
    std::uint32_t detachError = 0; // non-zero: StartDetachedCopy fails with it
    bool pipeFails = false;
    bool pipesEnded = false; // OutputPipeEnded for every pipe

    // Headless: standard output, a request to end (its handle is signalled
    // while set), and what the service manager was told.
    std::string standardOutput;
    bool shutdownRequested = false;
    std::vector<std::string> notifications;

    // The record of started processes; absent while `startRecord` is not set,
    // and no regular file (a FIFO, say) while `startRecordIsNoFile`.
    bool hasStartRecord = false;
    bool startRecordIsNoFile = false;
    std::string startRecord;
    int startRecordWrites = 0;

    // Containers: named "C:\\jobs\\<display name>"; those that exist. Until
    // `containerNotice` is taken, the containers' watch is signalled.
    std::uint32_t containersRefused = 0; // non-zero: PrepareContainers fails with it
    std::vector<std::string> containers;
    std::vector<std::string> endedContainers; // EndContainer calls
    std::vector<std::string> askedContainers; // AskContainerToEnd calls
    bool containerNotice = false;
    // Probes: TCP ports that take a connection (every other one refuses it),
    // the connection attempts made, and the health commands started, each
    // ending at once with `commandExitCode` unless `commandsRunOn`.
    std::vector<std::uint16_t> listening;
    // Who holds the listener of a port (FindListener); a port listed in
    // `listening` but not here is one whose holder the system does not tell.
    std::map<std::uint16_t, std::uint32_t> listenerHolders;
    std::vector<std::uint16_t> connections;
    // Exchanges (BeginExchange): the requests sent, by port, and the answer
    // a listening port gives (the exchange then closes); a listening port
    // without one never answers.
    std::vector<std::pair<std::uint16_t, std::string>> requests;
    std::map<std::uint16_t, std::string> answers;
    std::vector<std::string> commands;
    std::vector<Launch> commandStarts; // how each was started (file: the shell)
    std::uint32_t commandExitCode = 0;
    bool commandsRunOn = false;
    // What processes and containers use (AddProcessUsage,
    // ReadContainerUsage); a process not listed cannot be read. The
    // memory.high values set, by container name.
    std::map<std::uint32_t, port::Usage> processUsage;
    std::map<std::string, port::Usage> containerUsage;
    std::vector<std::pair<std::string, std::uint64_t>> memoryHigh;
    bool memoryHighRefused = false;
    // Messages waiting on the notify socket: text and sender id.
    std::vector<std::pair<std::string, std::uint32_t>> notifications_in;

    // The clock: advanced by every sleep and by every wait that timed out.
    std::uint64_t nowMs = 1000000;
    std::vector<std::uint32_t> waitLimits; // the time limit of every wait
    int listsRead = 0;                     // readings of the process list (ListProcesses)
};

State& Get();

// Makes the last error of the fake system `error` and returns false, as a
// failing call of the port does.
bool Fail(std::uint32_t error);

// Everything back to defaults with a blank screen of the given size. The
// core's own state is reset apart (ResetManagerForTesting).
void Reset(int width = 80, int height = 25);

// The console input handle and the handles held open by the core.
port::Handle InputHandle();
// The handle of WatchShutdownRequests.
port::Handle ShutdownHandle();
int OpenProcessHandles();
// Closes of handles that were not open (closed twice, or never opened).
int BadCloses();
std::uint32_t PidOf(port::Handle handle);

// The screen buffer takes a new size, as a resized console or terminal does:
// every cell becomes `leftover` with attribute `leftoverAttribute` (what the
// console left there is not the program's), and a buffer-size record with
// the new size is queued when `pushRecord` is set.
void ResizeScreen(int width, int height, bool pushRecord = true, char leftover = '~',
                  std::uint16_t leftoverAttribute = 0x4F);

// Input records.
void PushKey(std::uint16_t virtualKey, char character = 0, std::uint32_t controlState = 0);
void PushText(const std::string& text);
void PushRecord(const port::InputRecord& record);

// Processes.
Process& AddProcess(std::uint32_t pid, std::uint32_t parentPid, const std::string& image);
Process* FindProcess(std::uint32_t pid);
void EndProcess(std::uint32_t pid);
// Ends a process the way the system would tell the containers' watch.
void EndContainedProcess(std::uint32_t pid);
// Makes `path` a file that exists, with `canonical` as its short form.
void AddFile(const std::string& path, const std::string& canonical);

// Screen rows as text; a row's trailing blanks are kept.
std::string Row(int y);

// The manager's process ends: the system closes every handle it held, frees
// its single-instance guard and its control endpoint, and drops what waited
// on its sockets. Processes, containers, files and the start record stay.
void EndManagerProcess();

// Forgets the processes that have ended and that no handle holds any more,
// as the system forgets reaped ones.
void ForgetReapedProcesses();

// A handle of the manager's holds the process with this id.
bool HeldByHandle(std::uint32_t pid);

} // namespace fake
