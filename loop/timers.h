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

// True while the timer `id` is pending (not run, not cancelled).
bool TimerPending(TimerId id);

// Owns one timer: starting it again replaces the pending one, and its end
// cancels it, so that no callback outlives what it was set for.
class ScopedTimer {
  public:
    ScopedTimer() = default;
    ~ScopedTimer() { Cancel(); }
    ScopedTimer(const ScopedTimer&) = delete;
    ScopedTimer& operator=(const ScopedTimer&) = delete;
    ScopedTimer(ScopedTimer&& other) noexcept : id(other.id) { other.id = 0; }
    ScopedTimer& operator=(ScopedTimer&& other) noexcept {
        if (this != &other) {
            Cancel();
            id = other.id;
            other.id = 0;
        }
        return *this;
    }

    // Sets the timer `delayMs` from now, replacing a pending one. False,
    // with none pending, when the list is full.
    bool Start(std::uint64_t delayMs, TimerCallback callback, void* context) {
        Cancel();
        id = AddTimer(delayMs, callback, context);
        return id != 0;
    }
    void Cancel() {
        CancelTimer(id);
        id = 0;
    }
    bool Pending() const { return TimerPending(id); }

  private:
    TimerId id = 0;
};
