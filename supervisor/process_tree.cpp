#include "supervisor/process_tree.h"

#include "console/console.h"
#include "port/process.h"
#include "port/system.h"
#include "supervisor/app_entry.h"

#include <algorithm>
#include <vector>

namespace {

// The exit code a terminated process is given (-1 as a signed number).
constexpr std::uint32_t kKilledExitCode = 0xFFFFFFFFu;

// `path` holds the ids from the root of the walk down to the parent of
// `processId`. Recorded parent ids can form cycles (ids are reused, and a
// system process may name itself as its parent), so the walk never descends
// into an id that is already on the path or into the id being walked.
void KillChildren(std::uint32_t processId, std::vector<std::uint32_t>& path) {
    port::ProcessSnapshot* snapshot = port::OpenProcessSnapshot();
    if (snapshot == nullptr) {
        PrintMessage("Failed to get process list!");
        return;
    }
    port::ProcessRecord record{};
    if (!port::FirstProcess(snapshot, &record)) {
        PrintMessage("Failed to get first entry in process list!");
        port::CloseProcessSnapshot(snapshot);
        return;
    }
    path.push_back(processId);
    do {
        if (record.parentProcessId != processId)
            continue;
        const std::uint32_t child = record.processId;
        if (std::find(path.begin(), path.end(), child) != path.end())
            continue;
        KillChildren(child, path);
        KillProcess(child);
    } while (port::NextProcess(snapshot, &record));
    path.pop_back();
    port::CloseProcessSnapshot(snapshot);
}

} // namespace

void KillProcess(std::uint32_t processId) {
    port::Handle process = port::OpenProcessForTermination(processId);
    if (process == port::kNullHandle) {
        PrintMessage("Failed to open process with id: %d!", static_cast<int>(processId));
        return;
    }
    if (!port::TerminateProcessHandle(process, kKilledExitCode))
        PrintMessage("Failed to kill process with id: %d!", static_cast<int>(processId));
    port::Close(process);
}

void KillChildProcesses(std::uint32_t processId) {
    std::vector<std::uint32_t> path;
    KillChildren(processId, path);
}

void KillProcessTree(std::uint32_t processId) {
    KillChildProcesses(processId);
    KillProcess(processId);
}

void AppEntry::Stop() {
    PrintMessage("Terminating process %s.", name.c_str());
    RemoveWaitHandle(process);
    // Id 0 stands for no process: walking its "children" would reach every
    // process the system started.
    const std::uint32_t processId = port::ProcessIdOf(process);
    if (processId != 0)
        KillProcessTree(processId);
    else
        PrintMessage("Failed to get process id of %s!", name.c_str());
    port::Close(process);
    process = port::kNullHandle;
}
