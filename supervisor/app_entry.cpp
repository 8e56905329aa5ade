#include "supervisor/app_entry.h"

#include "common/text.h"
#include "console/console.h"
#include "loop/event_loop.h"
#include "port/process.h"
#include "port/system.h"
#include "supervisor/capture.h"
#include "supervisor/exit_report.h"
#include "supervisor/process_tree.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

AppTable appTable = {};
bool EndLeftoversFlag = false;
bool ShutdownUnderWay = false;
std::uint32_t DefaultStopTimeoutSeconds = 0;

namespace {

// Room for the canonical names compared while attaching.
constexpr std::uint32_t kNameBuffer = 4096;

// The process list is first read with room for this many ids; a full buffer
// means there may be more, and it is read again with twice the room.
constexpr std::uint32_t kFirstListCapacity = 4096;

// One running process and the canonical name of its executable.
struct RunningImage {
    std::uint32_t processId;
    std::string image;
};

// The running processes whose executable could be read, in list order.
// Entries created in one batch share one reading (see BeginAttachBatch).
struct RunningImages {
    bool batch = false;
    bool read = false;
    bool listed = false;
    std::vector<RunningImage> rows;
};

RunningImages runningImages;

bool PathTooLong(const AppEntry& entry) {
    if (entry.path.size() <= kMaxPathLength)
        return false;
    PrintMessage("Path of %s is too long, it is not started!", entry.name.c_str());
    return true;
}

// Registers the entry's new process handle, or gives it up when the table
// has no room for it.
void Supervise(AppEntry& entry, port::UniqueHandle process) {
    if (!AddWaitHandle(process.Get(), OnAppExit, &entry)) {
        PrintMessage("Too many processes to watch, %s is not supervised!", entry.name.c_str());
        return;
    }
    entry.process = std::move(process);
    entry.startedMs = port::NowMs();
    if (entry.supervisedOnce)
        ++entry.restarts;
    entry.supervisedOnce = true;
}

// The wait callback of a pending start attempt.
void OnRetryDue(void* context) {
    AppEntry* entry = static_cast<AppEntry*>(context);
    entry->retry.timer = 0;
    if (!entry->process)
        entry->Launch(); // which plans the next attempt when this one fails
}

void OnRelaunchDue(void* context) {
    AppEntry* entry = static_cast<AppEntry*>(context);
    entry->backoff.timer = 0;
    if (!entry->process)
        entry->Launch();
}

// Every running process id, however many there are.
bool ListAllProcessIds(std::vector<std::uint32_t>* ids) {
    std::uint32_t capacity = kFirstListCapacity;
    for (;;) {
        ids->resize(capacity);
        std::uint32_t count = 0;
        if (!port::ListProcessIds(ids->data(), capacity, &count))
            return false;
        if (count < capacity) {
            ids->resize(count);
            return true;
        }
        capacity *= 2;
    }
}

// Reads the executable of every process but this one (an entry naming the
// manager's own executable must never attach to the manager).
bool ReadRunningImages(std::vector<RunningImage>* rows) {
    rows->clear();
    std::vector<std::uint32_t> ids;
    if (!ListAllProcessIds(&ids))
        return false;
    const std::uint32_t self = port::CurrentProcessId();
    static char image[kNameBuffer];
    for (std::uint32_t id : ids) {
        if (id == 0 || id == self)
            continue;
        const std::uint32_t length = port::ProcessImageById(id, image, kNameBuffer);
        if (length != 0)
            rows->push_back(RunningImage{id, std::string(image, length)});
    }
    return true;
}

// Opens a process found by its image, and checks that the open process is
// still the one that was read (its id may have been reused meanwhile).
port::UniqueHandle OpenMatching(std::uint32_t processId, const char* wanted) {
    port::UniqueHandle process(port::OpenProcessFull(processId));
    if (!process)
        return process;
    static char image[kNameBuffer];
    static char canonical[kNameBuffer];
    if (port::ProcessImageName(process.Get(), image, kNameBuffer) != 0 &&
        port::CanonicalPath(image, canonical, kNameBuffer) != 0 &&
        AsciiEqualNoCase(wanted, canonical))
        return process;
    return port::UniqueHandle();
}

// The processes of `matches` (in list order) in the order they are tried:
// first those whose parent is not itself a match, then the rest. A server
// whose workers run its own executable is so found by its master, whatever
// ids the workers have. The parents are read only when there is a choice.
std::vector<std::uint32_t> AttachOrder(const std::vector<std::uint32_t>& matches) {
    if (matches.size() < 2)
        return matches;
    auto isMatch = [&](std::uint32_t id) {
        return std::find(matches.begin(), matches.end(), id) != matches.end();
    };
    std::vector<std::uint32_t> childOfMatch;
    const port::UniqueProcessSnapshot snapshot(port::OpenProcessSnapshot());
    port::ProcessRecord record{};
    for (bool more = snapshot && port::FirstProcess(snapshot.get(), &record); more;
         more = port::NextProcess(snapshot.get(), &record)) {
        if (record.parentProcessId != record.processId && isMatch(record.processId) &&
            isMatch(record.parentProcessId))
            childOfMatch.push_back(record.processId);
    }
    std::vector<std::uint32_t> order;
    std::vector<std::uint32_t> rest;
    for (std::uint32_t id : matches) {
        const bool child =
            std::find(childOfMatch.begin(), childOfMatch.end(), id) != childOfMatch.end();
        (child ? rest : order).push_back(id);
    }
    order.insert(order.end(), rest.begin(), rest.end());
    return order;
}

// A running process whose executable has the canonical name `wanted`,
// opened with full access; null when there is none. The configured path is
// resolved once by the caller and compared with each process's already
// canonical image, so a process is opened only when it matches.
port::UniqueHandle FindRunningCopy(const char* wanted, bool* listed) {
    RunningImages& cache = runningImages;
    if (!cache.batch || !cache.read) {
        cache.listed = ReadRunningImages(&cache.rows);
        cache.read = true;
    }
    *listed = cache.listed;
    port::UniqueHandle found;
    if (cache.listed) {
        std::vector<std::uint32_t> matches;
        for (const RunningImage& row : cache.rows)
            if (AsciiEqualNoCase(wanted, row.image.c_str()))
                matches.push_back(row.processId);
        for (std::uint32_t processId : AttachOrder(matches)) {
            found = OpenMatching(processId, wanted);
            if (found)
                break;
        }
    }
    if (!cache.batch) {
        cache.read = false;
        std::vector<RunningImage>().swap(cache.rows);
    }
    return found;
}

// Within a batch, a process the manager has just started counts as running
// for the entries created after it, as a fresh reading would show it.
void NoteStarted(const AppEntry& entry, const char* canonical) {
    if (!runningImages.batch || !runningImages.read || !entry.IsRunning())
        return;
    const std::uint32_t processId = port::ProcessIdOf(entry.process.Get());
    if (processId != 0)
        runningImages.rows.push_back(RunningImage{processId, canonical});
}

} // namespace

AppEntry::AppEntry(const char* name_, const char* path_, const char* parameters_, AppPlace place_)
    : name(name_), path(path_), parameters(parameters_), place(std::move(place_)),
      stopTimeoutSeconds(DefaultStopTimeoutSeconds) {
    if (PathTooLong(*this))
        return;

    // A start that fails before it could look for a running copy (the
    // executable is not there yet) is tried again like any failed start.
    char shortPath[kNameBuffer];
    if (port::CanonicalPath(path.c_str(), shortPath, kNameBuffer) == 0) {
        PrintMessage("Could not get FileShortName!");
        ScheduleRetry(retry, name.c_str(), OnRetryDue, this);
        return;
    }

    bool listed = false;
    port::UniqueHandle running = FindRunningCopy(shortPath, &listed);
    if (!listed) {
        PrintMessage("Could not get process list!");
        ScheduleRetry(retry, name.c_str(), OnRetryDue, this);
        return;
    }
    if (running) {
        Supervise(*this, std::move(running));
        if (IsRunning()) {
            // The copy found ran before the manager took it over.
            const std::uint64_t age = port::ProcessAgeMs(process.Get());
            startedMs -= age < startedMs ? age : startedMs;
            PrintMessage("%s already running, attached!", name.c_str());
            // A manager that ended in the middle of a stop left it frozen.
            if (port::ResumeIfStopped(port::ProcessIdOf(process.Get())))
                PrintMessage("Resumed %s, which was left stopped.", name.c_str());
        }
        return;
    }
    Launch();
    NoteStarted(*this, shortPath);
}

void AppEntry::Launch() {
    if (ShutdownUnderWay || removed)
        return;
    PrintMessage("Starting process %s.", name.c_str());
    if (PathTooLong(*this))
        return;

    // The working directory is the configured one, else the executable's
    // directory; a bare file name gives none, so the system's default applies.
    std::string directory = place.directory;
    const char* workingDirectory = directory.empty() ? nullptr : directory.c_str();
    std::string::size_type cut = path.rfind(port::kPathSeparator);
    if (workingDirectory == nullptr && cut != std::string::npos) {
        directory = path.substr(0, cut);
        workingDirectory = directory.c_str();
    }
    std::vector<const char*> environment;
    for (const std::string& variable : place.environment)
        environment.push_back(variable.c_str());
    environment.push_back(nullptr);

    // With output capture the capture process starts first, and the
    // manager keeps no end of the pipe once the application has its own.
    const port::UniqueFile output = StartOutputCapture(name);
    port::Handle started = port::kNullHandle;
    std::uint32_t error = 0;
    if (!port::StartProgram(path.c_str(), parameters.c_str(), workingDirectory, &started, &error,
                            output.Get(),
                            place.environment.empty() ? nullptr : environment.data())) {
        PrintMessage("Could not start %s. Error: %d.", name.c_str(), static_cast<int>(error));
        ScheduleRetry(retry, name.c_str(), OnRetryDue, this);
        return;
    }
    CancelRetry(retry);
    if (started == port::kNullHandle) {
        PrintMessage("Started %s without a process to watch, it is not supervised!", name.c_str());
        return;
    }
    Supervise(*this, port::UniqueHandle(started));
}

namespace {

// The stop is over: the entry is stopped, and started again when a
// "restart" came meanwhile.
void FinishStop(AppEntry& entry) {
    RemoveWaitHandle(entry.process.Get());
    CancelTimer(entry.stopLimit);
    CancelTimer(entry.stopCheck);
    entry.stopLimit = entry.stopCheck = 0;
    entry.stopping = entry.awaitingLeftovers = false;
    entry.stoppingTree = StoppingTree{};
    entry.process.Reset();
    if (entry.startWhenStopped) {
        entry.startWhenStopped = false;
        entry.Launch();
    }
}

void OnStopCheck(void* context);

// Once the root has ended: the stop is over when the rest of the tree has
// ended too, else the tree is looked at again a little later.
void LookAtStoppingTree(AppEntry& entry) {
    if (!TreeRemains(entry.stoppingTree)) {
        if (!entry.awaitingLeftovers)
            PrintMessage("%s stopped.", entry.name.c_str());
        FinishStop(entry);
        return;
    }
    entry.stopCheck = AddTimer(kStopCheckMs, OnStopCheck, &entry);
}

void OnStopCheck(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    entry.stopCheck = 0;
    LookAtStoppingTree(entry);
}

// The wait callback of a stopping entry's process: it has ended.
void OnStoppingExit(WaitTable*, std::int32_t, void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    // Signalled for good now: the rest is watched with timers.
    RemoveWaitHandle(entry.process.Get());
    LookAtStoppingTree(entry);
}

void OnStopLimit(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    entry.stopLimit = 0;
    if (entry.awaitingLeftovers) {
        FinishStop(entry); // the kills were reported where they failed
        return;
    }
    PrintMessage("%s did not stop within %d s; ending its process tree.", entry.name.c_str(),
                 static_cast<int>(entry.stopTimeoutSeconds));
    entry.EndStopNow();
}

// Asks the tree of the entry's process to end and waits for it without
// holding the loop. False, having asked nothing or leaving the rest to the
// caller, when it cannot wait.
bool BeginPoliteStop(AppEntry& entry, std::uint32_t processId) {
    AskTreeToEnd(processId, &entry.stoppingTree);
    entry.stopLimit =
        AddTimer(std::uint64_t{entry.stopTimeoutSeconds} * 1000u, OnStopLimit, &entry);
    if (entry.stopLimit == 0 || !AddWaitHandle(entry.process.Get(), OnStoppingExit, &entry)) {
        CancelTimer(entry.stopLimit);
        entry.stopLimit = 0;
        return false;
    }
    entry.stopping = true;
    return true;
}

// After the leftovers of an exit were ended: the relaunch waits until they
// are gone (a port they held is free then), but no longer than a limit.
// False when it cannot wait.
bool AwaitLeftovers(AppEntry& entry, const StoppingTree& leftovers) {
    entry.stopLimit = AddTimer(kLeftoversLimitMs, OnStopLimit, &entry);
    if (entry.stopLimit == 0)
        return false;
    entry.stoppingTree = leftovers;
    entry.stopping = entry.awaitingLeftovers = entry.startWhenStopped = true;
    LookAtStoppingTree(entry);
    return true;
}

} // namespace

void AppEntry::StartByOperator() {
    ResetBackoff(backoff);
    Launch();
}

void AppEntry::Stop() {
    PrintMessage("Terminating process %s.", name.c_str());
    RemoveWaitHandle(process.Get());
    // Id 0 stands for no process: walking its "children" would reach every
    // process the system started.
    const std::uint32_t processId = port::ProcessIdOf(process.Get());
    if (processId == 0) {
        PrintMessage("Failed to get process id of %s!", name.c_str());
        process.Reset();
        return;
    }
    if (stopTimeoutSeconds > 0 && BeginPoliteStop(*this, processId))
        return;
    KillProcessTree(processId);
    process.Reset();
}

void AppEntry::EndStopNow() {
    if (!stopping)
        return;
    KillProcessTree(stoppingTree.root);
    FinishStop(*this);
}

void OnAppExit(WaitTable*, std::int32_t, void* context) {
    AppEntry* entry = static_cast<AppEntry*>(context);
    RemoveWaitHandle(entry->process.Get());
    entry->lastExitKnown = port::ReadExitStatus(entry->process.Get(), &entry->lastExit);
    if (ReportExitsFlag)
        ReportExit(entry->name.c_str(), entry->lastExitKnown, entry->lastExit);
    if (ShutdownUnderWay) {
        entry->process.Reset();
        return;
    }
    // The process was not yet ended when the loop last looked, about one
    // pause ago (or when it was started, if later): its run is counted to
    // then, and a pause before its relaunch from then.
    const std::uint64_t now = port::NowMs();
    const std::uint64_t ended =
        std::max(entry->startedMs, now > kEventLoopPauseMs ? now - kEventLoopPauseMs : 0);
    const RestartPlan plan = PlanRestart(entry->backoff, ended - entry->startedMs);
    // While the ended process is held, its id names it (and its group and
    // session) and no other.
    const std::uint32_t processId = port::ProcessIdOf(entry->process.Get());
    if (EndLeftoversFlag && processId != 0) {
        StoppingTree leftovers;
        const std::size_t ended = EndLeftovers(processId, &leftovers);
        if (ended > 0) {
            PrintMessage("Ended %d leftover processes of %s.", static_cast<int>(ended),
                         entry->name.c_str());
            if (plan == RestartPlan::Now && AwaitLeftovers(*entry, leftovers))
                return;
        }
    }
    entry->process.Reset();
    switch (plan) {
    case RestartPlan::Now:
        entry->Launch();
        return;
    case RestartPlan::Later:
        ScheduleRestart(entry->backoff, entry->name.c_str(), ended, OnRelaunchDue, entry);
        return;
    case RestartPlan::GiveUp:
        PrintMessage("Giving up on %s: it ended %d times in a row within %d s of starting.",
                     entry->name.c_str(), static_cast<int>(entry->backoff.quickExits),
                     static_cast<int>(MinUptimeSeconds));
        return;
    }
}

void BeginAttachBatch() {
    runningImages.batch = true;
    runningImages.read = false;
}

void EndAttachBatch() {
    runningImages = RunningImages{};
}
