// New attempts after failed starts: a start that failed is tried again after
// a wait that doubles after every failure in a row, up to ten times the first.
// The event loop waits no longer than the earliest pending attempt.
#pragma once

#include <cstdint>

class AppEntry;

// Set from the configuration: the first wait in seconds; 0 tries nothing again.
extern std::uint32_t RetryFailedStartsSeconds;

// The longest first wait the configuration may ask for (one day).
inline constexpr std::uint32_t kMaxRetrySeconds = 86400;

// After a failed start of `entry`: plans the next attempt and says when.
void ScheduleRetry(AppEntry& entry);

// Forgets the entry's pending attempt and its run of failures. True when an
// attempt was pending.
bool CancelRetry(AppEntry& entry);

// Milliseconds until the earliest pending attempt of the applications (0 when
// one is due), or port::kWaitForever when none is pending.
std::uint32_t RetryWaitLimitMs();

// Makes every attempt that is due, in application order.
void RunDueRetries();
