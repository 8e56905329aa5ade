// Holding each application's processes in a container of its own ([General]
// ContainProcesses): a cgroup on Linux, a job object on Windows. A launch
// puts the program there; a stop asks and ends what the container holds; the
// leftovers of an exit are what it still holds; a new manager attaches to
// what it finds there. That a contained tree has ended is an event where the
// system gives one (Linux: the cgroup's "populated 0"), which the stop
// under way hears through its StopReport.
#pragma once

#include "supervisor/app_entry.h"

#include <cstddef>

struct RecordedProcess;

// True when the entry's processes are to be held: its key is set and this
// system can hold them. The first time a key asks, the containers are made
// ready; when they cannot be, "Could not hold processes in a cgroup (Error:
// N); following process trees instead." is logged, once.
bool ContainmentWanted(const AppEntry& entry);

// The entry's container for a launch, opened (and made) when missing; null
// when its processes are not to be held, or (after saying so) when it
// cannot be opened.
port::Handle ContainerForLaunch(AppEntry& entry);

// A process found in the entry's own container (the one the record names,
// else the one that started first), whatever its executable, that no other
// entry holds (`taken`) and that runs as the entry's [User], if it has one. A container the record
// names that is not the entry's own is ignored, and that is said. Null when there is none; the
// container, when it exists, is kept open for a launch.
port::UniqueHandle FindContainedCopy(AppEntry& entry, const RecordedProcess* recorded,
                                     const std::vector<std::uint32_t>& taken);

// Ends what the entry's container still holds once its process has ended
// on its own; returns how many processes that was.
std::size_t EndContainedLeftovers(AppEntry& entry);

// When the contained processes of a stopping entry may have ended: true
// when the system says so by an event (no timer needs to look).
bool ContainersWatched();

// After a stop: the container of an application that stays stopped is
// removed once it is empty (now, or when the event says so).
void RemoveEmptyContainer(AppEntry& entry);

// The word of --status: the kind of container that holds the entry's
// process ("cgroup", "job"), or "tree" when it is followed by its tree.
const char* ContainmentWord(const AppEntry& entry);

// At the manager's end: the empty containers of stopped applications are
// removed, and the manager's own when nothing is left in it.
void ReleaseContainment();
