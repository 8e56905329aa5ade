// What follows when an application ends on its own, or fails to start: a
// program that keeps ending soon after it started is relaunched after a
// pause that doubles after each such quick exit in a row, up to a cap; a run
// long enough resets it; after enough quick exits the manager may give up on
// it until an operator starts it. A failed start is tried again after a wait
// that doubles after each failure in a row, up to ten times the first (and
// one day at most).
#pragma once

#include "config/settings.h"
#include "supervisor/pending_start.h"
#include "supervisor/process_tree.h"

#include <cstdint>

enum class RestartPlan : std::uint8_t {
    Now,    // relaunch at once, as without the keys
    Later,  // after a pause (RestartCount::pause)
    GiveUp, // not again until an operator starts it
};

// The quick exits of one application, in a row.
struct RestartCount {
    std::uint32_t quickExits = 0;
    DoublingDelay pause; // the pauses before relaunches
};

// What the exit policy decided about a process that ended on its own.
struct ExitOutcome {
    RestartPlan plan = RestartPlan::Now;
    std::uint64_t endedMs = 0;   // when it ended, as near as the loop knows (port::NowMs)
    bool awaitLeftovers = false; // its leftovers were ended; the relaunch waits for them
    StoppingTree leftovers;
};

// After an exit on its own, `uptimeMs` after the start: counts the exit (a
// quick exit, or a good run that resets the count) and says when to
// relaunch.
RestartPlan PlanRestart(const RestartPolicy& policy, RestartCount& count, std::uint64_t uptimeMs);

// The wait before the next attempt after a failed start, in seconds; 0 when
// failed starts are not tried again.
std::uint32_t NextRetrySeconds(const RestartPolicy& policy, DoublingDelay& retry);
