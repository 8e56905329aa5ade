// Starts planned for later: a new attempt after a failed start, and the
// pause before relaunching a program that ended soon after it started. Both
// wait a time that doubles after each one in a row, up to a longest wait,
// and both are one timer of the event loop per application.
#pragma once

#include "loop/timers.h"

#include <cstdint>

// A wait that doubles after each use in a row.
struct DoublingDelay {
    std::uint32_t seconds = 0; // the last wait; 0: none in a row yet

    // The next wait: `first`, then twice the last, at most `longest`.
    std::uint32_t Next(std::uint32_t first, std::uint32_t longest);
};

// The one start an application may have planned.
struct PendingStart {
    enum class Kind : std::uint8_t {
        Retry,    // a new attempt after a failed start
        Relaunch, // the pause after a quick exit
        Order,    // once what it starts after is ready (no timer)
    };
    ScopedTimer timer;       // pending while one is planned
    std::uint64_t dueMs = 0; // when it is due (port::NowMs)
    Kind kind = Kind::Retry;
};

// Plans a start due at `dueMs` that calls due(context), replacing one that
// was planned. False, planning nothing, when the timer list is full.
bool PlanStart(PendingStart& pending, PendingStart::Kind kind, std::uint64_t dueMs,
               TimerCallback due, void* context);

// Forgets the planned start. True when one was planned.
bool CancelStart(PendingStart& pending);

// Seconds until the planned start is due, rounded up (0 when it is due).
std::uint64_t SecondsUntil(const PendingStart& pending, std::uint64_t nowMs);
