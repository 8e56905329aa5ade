// Stopping an application's tree: at once, or politely with a time limit,
// watched without holding the loop; and the wait of a relaunch for the
// leftovers of an exit to be gone. What a stop under way brings about (its
// limit, the end of its tree) comes back through its StopReport.
#pragma once

#include "supervisor/app_entry.h"

// How often a stopping tree is looked at after its root has ended.
inline constexpr std::uint32_t kStopCheckMs = 100;

// How long a relaunch waits at most for the leftovers it ended to be gone.
inline constexpr std::uint32_t kLeftoversLimitMs = 2000;

// Asks the tree of the entry's process to end and waits for it, within the
// entry's stop limit, without holding the loop. False when it cannot wait
// (or the process has no id): the stop is under way all the same, and the
// caller ends the tree at once.
bool BeginPoliteStop(AppEntry& entry, StopReport report);

// After the leftovers of an exit were ended: the relaunch waits until they
// are gone (a port they held is free then), at most kLeftoversLimitMs.
// False when it cannot wait: the stop is under way all the same, and the
// caller ends it.
bool AwaitLeftovers(AppEntry& entry, const StoppingTree& leftovers, StopReport report);

// Ends the entry's tree at once (the stop's tree when one is under way), and
// finishes the stop.
void EndTree(AppEntry& entry);

// The stop is over, or there was none: the process's row and the stop's
// timers are gone, and the process is let go.
void FinishStop(AppEntry& entry);
