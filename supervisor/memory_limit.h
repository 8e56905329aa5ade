// [MaxMemory]: while an application with a limit is up, its memory
// (supervisor/usage.h) is read every kMemoryCheckMs; over the limit in
// kMemoryReadingsOver readings in a row, it is reported so that it is
// restarted. Where its container can bound memory (cgroup v2 memory.high),
// the limit is given to it too, so that the system reclaims first.
// Without the key nothing of this runs.
#pragma once

#include "supervisor/app_entry.h"

inline constexpr std::uint32_t kMemoryCheckMs = 5000;
inline constexpr std::uint32_t kMemoryReadingsOver = 2;

// Watches the entry while it is up and has a limit, from now on if it was
// not watched; otherwise ends the watch. report(entry,
// AppEvent::RestartAsked) once it stayed over its limit (said in the log).
void KeepMemoryWatch(AppEntry& entry, WatchReport report);

// Ends the watch, if one runs.
void EndMemoryWatch(AppEntry& entry);
