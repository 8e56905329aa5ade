#include "supervisor/containment.h"

#include "console/console.h"
#include "loop/wait_table.h"
#include "port/identity.h"
#include "port/user.h"
#include "supervisor/start_record.h"

#include <algorithm>
#include <vector>

namespace {

enum class Readiness { Unknown, Ready, Unavailable };

struct Containment {
    Readiness readiness = Readiness::Unknown;
    bool watched = false;           // the containers' watch is a row of the wait table
    std::vector<AppEntry*> holders; // the entries with an open container
};

Containment containment;

void Forget(AppEntry& entry) {
    auto& holders = containment.holders;
    holders.erase(std::remove(holders.begin(), holders.end(), &entry), holders.end());
}

bool Holds(const AppEntry* entry) {
    const auto& holders = containment.holders;
    return std::find(holders.begin(), holders.end(), entry) != holders.end();
}

// Nothing of the entry runs and nothing is planned that would fill its
// container again.
bool StaysStopped(const AppEntry& entry) {
    return !entry.process && !entry.stop.active &&
           (entry.state == AppState::Stopped || entry.state == AppState::Removed);
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
    const std::vector<AppEntry*> holders = containment.holders;
    for (AppEntry* entry : holders) {
        if (!Holds(entry) || Populated(*entry))
            continue;
        if (entry->stop.active && entry->stop.contained)
            entry->stop.report(*entry, AppEvent::TreeEnded);
        if (Holds(entry) && StaysStopped(*entry))
            RemoveEmptyContainer(*entry);
    }
}

bool Prepare() {
    if (containment.readiness != Readiness::Unknown)
        return containment.readiness == Readiness::Ready;
    if (!port::PrepareContainers()) {
        containment.readiness = Readiness::Unavailable;
        PrintMessage(
            "Could not hold processes in a %s (Error: %d); following process trees instead.",
            port::kContainerKind, static_cast<int>(port::LastError()));
        return false;
    }
    containment.readiness = Readiness::Ready;
    const port::Handle watch = port::ContainerWatch();
    containment.watched =
        watch != port::kNullHandle && AddWaitHandle(watch, OnContainerNotice, nullptr);
    return true;
}

void Hold(AppEntry& entry, port::Handle container, const std::string& name) {
    entry.container.Reset(container);
    entry.containerName = name;
    if (!Holds(&entry))
        containment.holders.push_back(&entry);
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
    return containment.watched;
}

void RemoveEmptyContainer(AppEntry& entry) {
    if (!entry.container || !StaysStopped(entry) || Populated(entry))
        return;
    Forget(entry);
    port::RemoveContainer(entry.container.Release());
    entry.containerName.clear();
}

void ReleaseContainer(AppEntry& entry) {
    if (!entry.container)
        return;
    Forget(entry);
    entry.container.Reset();
    entry.containerName.clear();
}

const char* ContainmentWord(const AppEntry& entry) {
    const bool held = entry.process ? entry.contained
                                    : entry.settings.containProcesses &&
                                          containment.readiness == Readiness::Ready;
    return held ? port::kContainerKind : "tree";
}

void ForgetContainers() {
    containment = Containment{};
}

void ReleaseContainment() {
    if (containment.readiness != Readiness::Ready)
        return;
    // What stopped and has emptied goes; what still runs, or is still being
    // ended, stays for the next manager.
    const std::vector<AppEntry*> holders = containment.holders;
    for (AppEntry* entry : holders)
        RemoveEmptyContainer(*entry);
    port::ReleaseContainers();
}
