#include "supervisor/stop.h"

#include "console/console.h"
#include "loop/wait_table.h"
#include "supervisor/containment.h"
#include "supervisor/supervision.h"

namespace {

void OnStopCheck(void* context);
void OnMemberEnded(WaitTable*, std::int32_t, void* context);

// Once the root has ended: the stop is over when the rest of the tree has
// ended too. What is left is waited for by an event where there is one: the
// end of a member watched through its handle (one at a time: when it ends,
// the next is looked at), the container's notice that it is empty. Only a
// tree with members it cannot watch (or a container without notices) is
// looked at again after a while.
void LookAtStoppingTree(AppEntry& entry) {
    const LogSubject subject(entry.serial);
    StopUnderWay& stop = entry.stop;
    stop.memberRow.Remove();
    bool remains = true;
    if (stop.contained)
        port::ContainerPopulated(entry.container.Get(), &remains);
    else
        remains = TreeRemains(supervision.processes, stop.tree, &stop.watch);
    if (!remains) {
        stop.report(entry, AppEvent::TreeEnded);
        return;
    }
    if (stop.contained && ContainersWatched())
        return;
    if (!stop.contained && !stop.watch.members.empty() &&
        stop.memberRow.Add(stop.watch.members.front().Get(), OnMemberEnded, &entry) &&
        !stop.watch.unwatched)
        return;
    stop.check.Start(kStopCheckMs, OnStopCheck, &entry);
}

void OnStopCheck(void* context) {
    LookAtStoppingTree(*static_cast<AppEntry*>(context));
}

void OnMemberEnded(WaitTable*, std::int32_t, void* context) {
    LookAtStoppingTree(*static_cast<AppEntry*>(context));
}

// The wait callback of a stopping entry's process: it has ended.
void OnStoppingExit(WaitTable*, std::int32_t, void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    const LogSubject subject(entry.serial);
    StopUnderWay& stop = entry.stop;
    // Signalled for good now: the rest is watched with timers (or the
    // container's events).
    entry.processRow.Remove();
    // Only the main process was asked: the rest of its tree ends with it.
    if (entry.settings.stopMainOnly && stop.contained) {
        port::EndContainer(entry.container.Get());
    } else if (entry.settings.stopMainOnly) {
        StoppingTree rest;
        EndLeftovers(stop.tree.root, &rest);
        stop.tree.members.insert(stop.tree.members.end(), rest.members.begin(), rest.members.end());
        WatchMembers(supervision.processes, stop.tree, &stop.watch);
    }
    LookAtStoppingTree(entry);
}

void OnStopLimit(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    const LogSubject subject(entry.serial);
    entry.stop.report(entry, AppEvent::StopLimitPassed);
}

// Asks every process of the entry's container to end (or, with its stop
// signal for the main process only, the main process): the group the root
// leads in one step, so that children it forks meanwhile hear it too, the
// others one by one. Its end is the container's.
void AskContainedTreeToEnd(AppEntry& entry, std::uint32_t root) {
    StopUnderWay& stop = entry.stop;
    stop.contained = true;
    stop.tree = StoppingTree{};
    stop.tree.root = root;
    const int signal = entry.settings.stopSignal;
    if (entry.settings.stopMainOnly) {
        port::AskProcessToEnd(root, signal);
        return;
    }
    const bool group = port::AskProcessGroupToEnd(root, signal);
    port::AskContainerToEnd(entry.container.Get(), group ? root : 0, signal);
}

} // namespace

bool BeginPoliteStop(AppEntry& entry, StopReport report) {
    entry.processRow.Remove();
    StopUnderWay& stop = entry.stop;
    stop.report = report;
    // Id 0 stands for no process: walking its "children" would reach every
    // process the system started.
    const std::uint32_t processId = port::ProcessIdOf(entry.process.Get());
    if (processId == 0 ||
        !stop.limit.Start(std::uint64_t{entry.settings.stopTimeoutSeconds} * 1000u, OnStopLimit,
                          &entry))
        return false;
    if (entry.contained) {
        AskContainedTreeToEnd(entry, processId);
    } else {
        AskTreeToEnd(supervision.processes, processId, &stop.tree, entry.settings.stopSignal,
                     entry.settings.stopMainOnly);
        WatchMembers(supervision.processes, stop.tree, &stop.watch);
    }
    if (!entry.processRow.Add(entry.process.Get(), OnStoppingExit, &entry)) {
        stop.limit.Cancel();
        return false;
    }
    return true;
}

bool AwaitLeftovers(AppEntry& entry, const StoppingTree& leftovers, StopReport report) {
    StopUnderWay& stop = entry.stop;
    stop.contained = entry.contained;
    stop.tree = leftovers;
    stop.report = report;
    if (!stop.limit.Start(kLeftoversLimitMs, OnStopLimit, &entry))
        return false;
    if (!stop.contained)
        WatchMembers(supervision.processes, stop.tree, &stop.watch);
    LookAtStoppingTree(entry);
    return true;
}

void EndTree(AppEntry& entry) {
    entry.processRow.Remove();
    const std::uint32_t root =
        entry.stop.tree.root != 0 ? entry.stop.tree.root : port::ProcessIdOf(entry.process.Get());
    // A contained tree ends in one step; should that fail, it is walked.
    const bool ended =
        entry.contained && entry.process && port::EndContainer(entry.container.Get());
    if (!ended && root != 0)
        KillProcessTree(root);
    else if (!ended && entry.process)
        PrintMessage("Failed to get process id of %s!", entry.settings.name.c_str());
    FinishStop(entry);
}

void FinishStop(AppEntry& entry) {
    entry.processRow.Remove();
    entry.stop = StopUnderWay{};
    entry.process.Reset();
}
