#include "supervisor/stop.h"

#include "console/console.h"
#include "loop/wait_table.h"

namespace {

void OnStopCheck(void* context);

// Once the root has ended: the stop is over when the rest of the tree has
// ended too, else the tree is looked at again a little later.
void LookAtStoppingTree(AppEntry& entry) {
    if (!TreeRemains(entry.stop.tree, &entry.stop.watch)) {
        entry.stop.report(entry, AppEvent::TreeEnded);
        return;
    }
    entry.stop.check = AddTimer(kStopCheckMs, OnStopCheck, &entry);
}

void OnStopCheck(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    entry.stop.check = 0;
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
    entry.stop.limit = 0;
    entry.stop.report(entry, AppEvent::StopLimitPassed);
}

} // namespace

bool BeginPoliteStop(AppEntry& entry, StopReport report) {
    RemoveWaitHandle(entry.process.Get());
    StopUnderWay& stop = entry.stop;
    stop.active = true;
    stop.report = report;
    // Id 0 stands for no process: walking its "children" would reach every
    // process the system started.
    const std::uint32_t processId = port::ProcessIdOf(entry.process.Get());
    if (processId == 0)
        return false;
    AskTreeToEnd(processId, &stop.tree);
    WatchMembers(stop.tree, &stop.watch);
    stop.limit =
        AddTimer(std::uint64_t{entry.settings.stopTimeoutSeconds} * 1000u, OnStopLimit, &entry);
    if (stop.limit == 0 || !AddWaitHandle(entry.process.Get(), OnStoppingExit, &entry)) {
        CancelTimer(stop.limit);
        stop.limit = 0;
        return false;
    }
    return true;
}

bool AwaitLeftovers(AppEntry& entry, const StoppingTree& leftovers, StopReport report) {
    StopUnderWay& stop = entry.stop;
    stop.active = stop.leftovers = stop.startAfter = true;
    stop.tree = leftovers;
    stop.report = report;
    stop.limit = AddTimer(kLeftoversLimitMs, OnStopLimit, &entry);
    if (stop.limit == 0)
        return false;
    WatchMembers(stop.tree, &stop.watch);
    LookAtStoppingTree(entry);
    return true;
}

void EndTree(AppEntry& entry) {
    RemoveWaitHandle(entry.process.Get());
    const std::uint32_t root =
        entry.stop.tree.root != 0 ? entry.stop.tree.root : port::ProcessIdOf(entry.process.Get());
    if (root != 0)
        KillProcessTree(root);
    else if (entry.process)
        PrintMessage("Failed to get process id of %s!", entry.settings.name.c_str());
    FinishStop(entry);
}

void FinishStop(AppEntry& entry) {
    RemoveWaitHandle(entry.process.Get());
    CancelTimer(entry.stop.limit);
    CancelTimer(entry.stop.check);
    entry.stop = StopUnderWay{};
    entry.process.Reset();
}
