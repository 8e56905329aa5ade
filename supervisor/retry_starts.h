// New attempts after failed starts: a start that failed is tried again after
// a wait that doubles after every failure in a row, up to ten times the first.
// Each pending attempt is a timer of the event loop.
#pragma once

#include "loop/timers.h"

#include <cstdint>

// Set from the configuration: the first wait in seconds; 0 tries nothing again.
extern std::uint32_t RetryFailedStartsSeconds;

// The longest first wait the configuration may ask for (one day).
inline constexpr std::uint32_t kMaxRetrySeconds = 86400;

// The attempts of one application.
struct StartRetry {
    TimerId timer = 0;              // the pending attempt; 0: none
    std::uint64_t dueMs = 0;        // when it is due (port::NowMs)
    std::uint32_t delaySeconds = 0; // the wait before it; 0: no failure in a row yet
};

// After a failed start of the application `name`: plans the next attempt,
// which calls attempt(context) when due, and says when. Does nothing while
// RetryFailedStartsSeconds is 0.
void ScheduleRetry(StartRetry& retry, const char* name, TimerCallback attempt, void* context);

// Forgets the pending attempt and the run of failures. True when an attempt
// was pending.
bool CancelRetry(StartRetry& retry);
