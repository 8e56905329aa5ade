// Containers that hold all the processes of one application, whatever they
// start and however they detach: a cgroup v2 of its own on Linux, below one
// the manager makes for itself; a named job object on Windows. A process
// started in one stays in it, and so do its descendants.
#pragma once

#include "port/types.h"
#include "port/unique_handle.h"

#include <cstdint>
#include <string>
#include <vector>

namespace port {

// The word for this system's containers: "cgroup" or "job".
extern const char* const kContainerKind;

// Makes ready to hold applications (Linux: the manager's own cgroup, named
// after the user and the runtime directory, below the cgroup the manager
// runs in, on the cgroup v2 hierarchy). False, with LastError(), when this
// process cannot make containers (no cgroup v2, or no right to write it).
bool PrepareContainers();

// At the manager's end: its own cgroup is removed when no application's
// cgroup is left in it (nothing on Windows).
void ReleaseContainers();

// The name of the container of the application `displayName` (Linux: the
// path of its cgroup; Windows: the name of its job object, after the user
// and the display name). `place` tells apart applications listed under the
// same name: 0 for the first, 1 for the next, and so on; no display name
// gives the name of another's place. Needs PrepareContainers first.
std::string ContainerName(const char* displayName, int place = 0);

// The name of the container of the health commands of the application
// `displayName`: beside the applications' containers, named so that no
// application's can have the name (Linux: "check-" where theirs have
// "app-"). Needs PrepareContainers first.
std::string CheckContainerName(const char* displayName);

// Opens the container `name`, making it when it is missing and `create` is
// set. Null, with LastError(), when it cannot be opened (or is missing).
Handle OpenContainer(const char* name, bool create);

// Closes a container's handle; the container and what it holds stay.
void CloseContainer(Handle container);

// Owns a container's handle.
using UniqueContainer = BasicUniqueHandle<CloseContainer>;

// Removes an empty container and closes its handle (on Windows a job goes
// once no handle and no process holds it). False, with LastError(), when it
// still holds processes; the handle is closed all the same.
bool RemoveContainer(Handle container);

// The ids of the processes the container holds.
bool ContainerProcessIds(Handle container, std::vector<std::uint32_t>* ids);

// Whether the container holds a process that has not ended.
bool ContainerPopulated(Handle container, bool* populated);

// Asks every process of the container to end (SIGTERM, or `signal` when not
// 0, then SIGCONT, as AskProcessToEnd asks; on Windows WM_CLOSE to their
// windows), except those of the process group `groupAsked` (Linux: asked in
// one step already; 0 for none).
bool AskContainerToEnd(Handle container, std::uint32_t groupAsked, int signal = 0);

// Ends every process of the container at once (Linux: cgroup.kill, or
// SIGKILL to each process of the frozen cgroup where the kernel has no
// cgroup.kill; Windows: TerminateJobObject).
bool EndContainer(Handle container);

// A handle signalled when a container may have become empty (Linux: an
// inotify descriptor on the open cgroups' cgroup.events); null where the
// system gives none (Windows: look with a timer).
Handle ContainerWatch();

// Takes what signalled the watch, until the next change signals it again.
void TakeContainerNotices();

} // namespace port
