// Pauses before relaunching a program that keeps ending soon after it
// started: the pause doubles after each such quick exit in a row, up to a
// cap; a run long enough resets it; after enough quick exits the manager may
// give up on the program until an operator starts it.
#pragma once

#include "loop/timers.h"

#include <cstdint>

// Set from the configuration; each is off at 0.
extern std::uint32_t RestartDelaySeconds;    // the first pause
extern std::uint32_t RestartDelayMaxSeconds; // the longest pause; 0: 60 x the first
extern std::uint32_t MinUptimeSeconds;       // a shorter run is a quick exit
extern std::uint32_t GiveUpAfterExits;       // quick exits in a row that end it

inline constexpr std::uint32_t kMaxRestartDelaySeconds = 3600;
inline constexpr std::uint32_t kMaxRestartDelayMaxSeconds = 86400;
inline constexpr std::uint32_t kDefaultMinUptimeSeconds = 10;

// The relaunches of one application.
struct RestartBackoff {
    std::uint32_t quickExits = 0;   // quick exits in a row
    std::uint32_t delaySeconds = 0; // the last pause; 0: none yet
    TimerId timer = 0;              // the pending relaunch; 0: none
    std::uint64_t dueMs = 0;        // when it is due (port::NowMs)
    bool gaveUp = false;
};

enum class RestartPlan {
    Now,    // relaunch at once, as without the keys
    Later,  // after backoff.delaySeconds
    GiveUp, // not again until an operator starts it
};

// After an exit on its own, `uptimeMs` after the start: counts the exit and
// says when to relaunch.
RestartPlan PlanRestart(RestartBackoff& backoff, std::uint64_t uptimeMs);

// A relaunch planned for later: a timer, due the pause after `endedMs`
// (port::NowMs), that calls relaunch(context), and the log line that says
// when.
void ScheduleRestart(RestartBackoff& backoff, const char* name, std::uint64_t endedMs,
                     TimerCallback relaunch, void* context);

// An operator's start: forgets the count, the pause and a give-up, and
// cancels a pending relaunch. True when one was pending.
bool ResetBackoff(RestartBackoff& backoff);
