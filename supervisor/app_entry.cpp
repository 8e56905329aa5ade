#include "supervisor/app_entry.h"

#include "common/text.h"
#include "console/console.h"
#include "port/process.h"
#include "port/system.h"
#include "supervisor/exit_report.h"
#include "supervisor/retry_starts.h"

AppTable appTable = {};

namespace {

// Room for the canonical names compared while attaching.
constexpr std::uint32_t kNameBuffer = 4096;

// At most this many process ids are looked at while attaching.
constexpr std::uint32_t kMaxProcessIds = 1024;

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
        return;
    }
    port::Close(process);
    entry.process = port::kNullHandle;
    PrintMessage("Too many processes to watch, %s is not supervised!", entry.name.c_str());
}

// The first running process whose executable has the canonical name
// `wanted`, opened with full access; null when there is none.
port::Handle FindRunningCopy(const char* wanted, bool* listed) {
    static std::uint32_t ids[kMaxProcessIds];
    std::uint32_t count = 0;
    *listed = port::ListProcessIds(ids, kMaxProcessIds, &count);
    if (!*listed)
        return port::kNullHandle;

    static char image[kNameBuffer];
    static char canonical[kNameBuffer];
    for (std::uint32_t i = 0; i < count; ++i) {
        if (ids[i] == 0)
            continue;
        port::Handle process = port::OpenProcessFull(ids[i]);
        if (process == port::kNullHandle)
            continue;
        if (port::ProcessImageName(process, image, kNameBuffer) != 0 &&
            port::ShortPathName(image, canonical, kNameBuffer) != 0 &&
            AsciiEqualNoCase(wanted, canonical))
            return process;
        port::Close(process);
    }
    return port::kNullHandle;
}

} // namespace

AppEntry::AppEntry(const char* name_, const char* path_, const char* parameters_)
    : name(name_), path(path_), parameters(parameters_), process(port::kNullHandle) {
    if (PathTooLong(*this))
        return;

    char shortPath[kNameBuffer];
    if (port::ShortPathName(path.c_str(), shortPath, kNameBuffer) == 0) {
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
        if (IsRunning())
            PrintMessage("%s already running, attached!", name.c_str());
        return;
    }
    Launch();
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
    if (!port::ShellOpen(path.c_str(), parameters.c_str(), workingDirectory, &started, &error)) {
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
    if (ReportExitsFlag)
        ReportExit(*entry);
    port::Close(entry->process);
    entry->process = port::kNullHandle;
    entry->Launch();
}
