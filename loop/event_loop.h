// The event loop: the program's one thread waits on the rows of the wait
// table and on the earliest timer, serves every row that is ready, runs the
// timers that are due and pauses, until RunningFlag is cleared.
#pragma once

#include <cstdint>

// Cleared to end the loop (the "quit" command); the loop ends after the pass
// that cleared it.
extern bool RunningFlag;

// The pause after every pass of the loop, in milliseconds.
inline constexpr std::uint32_t kEventLoopPauseMs = 100;

// Each pass waits until a row is signalled or the earliest timer is due
// (without a timer, without a time limit), then calls the callback of every
// row that the wait found signalled, in row order, then the due timers, then
// pauses once. A row removed by an earlier callback of the same pass is not
// called; once RunningFlag is clear, nothing more is.
void RunEventLoop();
