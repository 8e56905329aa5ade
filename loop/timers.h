// The timer list: one-shot deadlines, each with a callback and a context,
// beside the rows of the wait table. The event loop waits no longer than the
// earliest deadline and runs the timers that are due after the pass's rows.
#pragma once

#include <cstdint>

// Called once when the timer's deadline has come.
using TimerCallback = void (*)(void* context);

// Names a timer; 0 names none. Ids are never reused.
using TimerId = std::uint64_t;

// Room for a few timers per application, and one per control client.
inline constexpr int kTimerListSize = 128;

struct Timer {
    TimerId id;
    std::uint64_t dueMs; // on port::NowMs's clock
    TimerCallback callback;
    void* context;
};

// The pending timers, earliest first; timers with the same deadline in the
// order they were added.
struct TimerList {
    std::int32_t count;
    Timer timers[kTimerListSize];
    TimerId lastId;
};

extern TimerList timerList;

// Adds a timer that is due `delayMs` from now. Returns its id, or 0, adding
// nothing, when the list is full.
TimerId AddTimer(std::uint64_t delayMs, TimerCallback callback, void* context);

// Forgets a pending timer. False when `id` names no pending timer (it ran,
// was cancelled, or is 0).
bool CancelTimer(TimerId id);

// Milliseconds until the earliest timer is due (0 when one is due now), or
// port::kWaitForever when none is pending.
std::uint32_t TimerWaitLimitMs();

// Runs every timer that is due, earliest first, each taken off the list
// before its callback runs. A timer that a callback adds waits for the next
// call, even when it is due at once.
void RunDueTimers();
