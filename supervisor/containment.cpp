#include "supervisor/containment.h"

#include "console/console.h"
#include "loop/wait_table.h"
#include "port/identity.h"
#include "port/user.h"
#include "supervisor/app_table.h"
#include "supervisor/start_record.h"
#include "supervisor/supervision.h"

#include <algorithm>
#include <vector>

namespace {

using Readiness = ContainerSupport::Readiness;

// Nothing of the entry runs and nothing is planned that would fill its
// container again.
bool StaysStopped(const AppEntry& entry) {
    return !entry.process && (entry.state == AppState::Stopped || entry.state == AppState::Failed ||
                              entry.state == AppState::Removed);
}

bool Populated(const AppEntry& entry) {
    bool populated = true; // unknown counts as held
    port::ContainerPopulated(entry.container.Get(), &populated);
    return populated;
}

// A container may have emptied: a stop waiting for it hears of its end, and
// the container of an application that stays stopped is removed.
void OnContainerNotice(WaitTable*, std::int32_t, void*) {
    port::TakeContainerNotices();
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry& entry = *appTable.entries[i];
        if (!entry.container || Populated(entry))
            continue;
        if (IsStopping(entry.state) && entry.stop.contained)
            entry.stop.report(entry, AppEvent::TreeEnded);
        if (entry.container && StaysStopped(entry))
            RemoveEmptyContainer(entry);
    }
}

bool Prepare() {
    ContainerSupport& support = supervision.containers;
    if (support.readiness != Readiness::Unknown)
        return support.readiness == Readiness::Ready;
    if (!port::PrepareContainers()) {
        support.readiness = Readiness::Unavailable;
        PrintMessage(
            "Could not hold processes in a %s (Error: %d); following process trees instead.",
            port::kContainerKind, static_cast<int>(port::LastError()));
        return false;
    }
    support.readiness = Readiness::Ready;
    const port::Handle watch = port::ContainerWatch();
    if (watch != port::kNullHandle)
        support.watch.Add(watch, OnContainerNotice, nullptr);
    return true;
}

void Hold(AppEntry& entry, port::Handle container, const std::string& name) {
    entry.container.Reset(container);
    entry.containerName = name;
}

} // namespace

bool ContainmentWanted(const AppEntry& entry) {
    return entry.settings.containProcesses && Prepare();
}

port::Handle ContainerForLaunch(AppEntry& entry) {
    if (!ContainmentWanted(entry))
        return port::kNullHandle;
    if (entry.container)
        return entry.container.Get();
    const std::string name = port::ContainerName(entry.settings.name.c_str(), entry.place);
    const port::Handle container = port::OpenContainer(name.c_str(), true);
    if (container == port::kNullHandle) {
        PrintMessage(
            "Could not hold processes in a %s (Error: %d); following process trees instead.",
            port::kContainerKind, static_cast<int>(port::LastError()));
        return port::kNullHandle;
    }
    Hold(entry, container, name);
    return container;
}

port::UniqueHandle FindContainedCopy(AppEntry& entry, const RecordedProcess* recorded,
                                     const std::vector<std::uint32_t>& taken) {
    // Only a container this manager makes for the entry is its own: one
    // the record names otherwise (another application's, another user's,
    // any directory that looks like a cgroup) is none of its business.
    const std::string name = port::ContainerName(entry.settings.name.c_str(), entry.place);
    if (recorded != nullptr && !recorded->container.empty() && recorded->container != name)
        PrintMessage("Ignored recorded container %s of %s.", recorded->container.c_str(),
                     entry.settings.name.c_str());
    const port::Handle container = port::OpenContainer(name.c_str(), false);
    if (container == port::kNullHandle)
        return port::UniqueHandle();
    Hold(entry, container, name);
    std::vector<std::uint32_t> ids;
    if (!port::ContainerProcessIds(container, &ids) || ids.empty())
        return port::UniqueHandle(); // empty: kept for the launch
    // With [User], only a process of that user is its copy.
    std::uint32_t userId = 0;
    const bool byUser = !entry.settings.user.empty();
    if (byUser && !port::UserIdByName(entry.settings.user.c_str(), &userId))
        return port::UniqueHandle();
    // The recorded process when it is still there, else the first started.
    std::uint32_t chosen = 0;
    std::uint64_t earliest = 0;
    for (std::uint32_t id : ids) {
        std::uint64_t started = 0;
        std::uint32_t runsAs = 0;
        if (std::find(taken.begin(), taken.end(), id) != taken.end() ||
            (byUser && (!port::ProcessUserId(id, &runsAs) || runsAs != userId)) ||
            !port::ProcessStartTime(id, &started))
            continue;
        if (recorded != nullptr && id == recorded->processId && started == recorded->startTime) {
            chosen = id;
            break;
        }
        if (chosen == 0 || started < earliest) {
            chosen = id;
            earliest = started;
        }
    }
    return port::UniqueHandle(chosen != 0 ? port::OpenProcessFull(chosen) : port::kNullHandle);
}

std::size_t EndContainedLeftovers(AppEntry& entry) {
    std::vector<std::uint32_t> ids;
    if (!port::ContainerProcessIds(entry.container.Get(), &ids) || ids.empty())
        return 0;
    port::EndContainer(entry.container.Get());
    return ids.size();
}

bool ContainersWatched() {
    return supervision.containers.watch.Active();
}

void RemoveEmptyContainer(AppEntry& entry) {
    if (!entry.container || !StaysStopped(entry) || Populated(entry))
        return;
    port::RemoveContainer(entry.container.Release());
    entry.containerName.clear();
}

const char* ContainmentWord(const AppEntry& entry) {
    const bool held = entry.process ? entry.contained
                                    : entry.settings.containProcesses &&
                                          supervision.containers.readiness == Readiness::Ready;
    return held ? port::kContainerKind : "tree";
}

void ReleaseContainment() {
    if (supervision.containers.readiness != Readiness::Ready)
        return;
    // What stopped and has emptied goes; what still runs, or is still being
    // ended, stays for the next manager.
    for (int i = 0; i < appTable.count; ++i)
        RemoveEmptyContainer(*appTable.entries[i]);
    port::ReleaseContainers();
}
