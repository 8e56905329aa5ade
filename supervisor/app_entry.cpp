#include "supervisor/app_entry.h"

#include "common/text.h"
#include "console/console.h"
#include "port/process.h"
#include "port/system.h"
#include "supervisor/exit_report.h"
#include "supervisor/retry_starts.h"

#include <string>
#include <vector>

AppTable appTable = {};

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
void Supervise(AppEntry& entry, port::Handle process) {
    if (AddWaitHandle(process, OnAppExit, &entry)) {
        entry.process = process;
        entry.startedMs = port::NowMs();
        if (entry.supervisedOnce)
            ++entry.restarts;
        entry.supervisedOnce = true;
        return;
    }
    port::Close(process);
    entry.process = port::kNullHandle;
    PrintMessage("Too many processes to watch, %s is not supervised!", entry.name.c_str());
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
port::Handle OpenMatching(std::uint32_t processId, const char* wanted) {
    port::Handle process = port::OpenProcessFull(processId);
    if (process == port::kNullHandle)
        return port::kNullHandle;
    static char image[kNameBuffer];
    static char canonical[kNameBuffer];
    if (port::ProcessImageName(process, image, kNameBuffer) != 0 &&
        port::CanonicalPath(image, canonical, kNameBuffer) != 0 &&
        AsciiEqualNoCase(wanted, canonical))
        return process;
    port::Close(process);
    return port::kNullHandle;
}

// The first running process whose executable has the canonical name
// `wanted`, opened with full access; null when there is none. The configured
// path is resolved once by the caller and compared with each process's
// already canonical image, so a process is opened only when it matches.
port::Handle FindRunningCopy(const char* wanted, bool* listed) {
    RunningImages& cache = runningImages;
    if (!cache.batch || !cache.read) {
        cache.listed = ReadRunningImages(&cache.rows);
        cache.read = true;
    }
    *listed = cache.listed;
    port::Handle found = port::kNullHandle;
    if (cache.listed) {
        for (const RunningImage& row : cache.rows) {
            if (!AsciiEqualNoCase(wanted, row.image.c_str()))
                continue;
            found = OpenMatching(row.processId, wanted);
            if (found != port::kNullHandle)
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
    const std::uint32_t processId = port::ProcessIdOf(entry.process);
    if (processId != 0)
        runningImages.rows.push_back(RunningImage{processId, canonical});
}

} // namespace

AppEntry::AppEntry(const char* name_, const char* path_, const char* parameters_)
    : name(name_), path(path_), parameters(parameters_), process(port::kNullHandle) {
    if (PathTooLong(*this))
        return;

    char shortPath[kNameBuffer];
    if (port::CanonicalPath(path.c_str(), shortPath, kNameBuffer) == 0) {
        PrintMessage("Could not get FileShortName!");
        return;
    }

    bool listed = false;
    port::Handle running = FindRunningCopy(shortPath, &listed);
    if (!listed) {
        PrintMessage("Could not get process list!");
        return;
    }
    if (running != port::kNullHandle) {
        Supervise(*this, running);
        if (IsRunning()) {
            // The copy found ran before the manager took it over.
            const std::uint64_t age = port::ProcessAgeMs(process);
            startedMs -= age < startedMs ? age : startedMs;
            PrintMessage("%s already running, attached!", name.c_str());
        }
        return;
    }
    Launch();
    NoteStarted(*this, shortPath);
}

void AppEntry::Launch() {
    PrintMessage("Starting process %s.", name.c_str());
    if (PathTooLong(*this))
        return;

    // The working directory is the executable's directory; a bare file name
    // gives none, so the system's default applies.
    std::string directory;
    const char* workingDirectory = nullptr;
    std::string::size_type cut = path.rfind(port::kPathSeparator);
    if (cut != std::string::npos) {
        directory = path.substr(0, cut);
        workingDirectory = directory.c_str();
    }

    port::Handle started = port::kNullHandle;
    std::uint32_t error = 0;
    if (!port::StartProgram(path.c_str(), parameters.c_str(), workingDirectory, &started, &error)) {
        PrintMessage("Could not start %s. Error: %d.", name.c_str(), static_cast<int>(error));
        process = port::kNullHandle;
        ScheduleRetry(*this);
        return;
    }
    CancelRetry(*this);
    if (started == port::kNullHandle) {
        PrintMessage("Started %s without a process to watch, it is not supervised!", name.c_str());
        process = port::kNullHandle;
        return;
    }
    Supervise(*this, started);
}

void OnAppExit(WaitTable*, std::int32_t, void* context) {
    AppEntry* entry = static_cast<AppEntry*>(context);
    RemoveWaitHandle(entry->process);
    entry->lastExitKnown = port::ReadExitStatus(entry->process, &entry->lastExit);
    if (ReportExitsFlag)
        ReportExit(*entry);
    port::Close(entry->process);
    entry->process = port::kNullHandle;
    entry->Launch();
}

void BeginAttachBatch() {
    runningImages.batch = true;
    runningImages.read = false;
}

void EndAttachBatch() {
    runningImages = RunningImages{};
}
