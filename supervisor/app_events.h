// Where an application's events arrive: each goes through the transition
// function (supervisor/app_state.h), the entry takes the next state, and the
// step's actions are taken here, in the order of their bits. Actions that
// have an outcome (a launch, a stop that cannot wait) report it as an event
// of their own.
#pragma once

#include "loop/wait_table.h"
#include "supervisor/app_entry.h"
#include "supervisor/attach.h"

#include <vector>

// What the exit policy decided about a process that ended on its own.
struct ExitOutcome {
    RestartPlan plan = RestartPlan::Now;
    std::uint64_t endedMs = 0;   // when it ended, as near as the loop knows (port::NowMs)
    bool awaitLeftovers = false; // its leftovers were ended; the relaunch waits for them
    StoppingTree leftovers;
};

// Set while the manager ends every application before it ends itself
// (headless, on a request to end): nothing is started or started again.
extern bool ShutdownUnderWay;

// Takes `event` to the entry.
void Dispatch(AppEntry& entry, AppEvent event, const ExitOutcome& exit = ExitOutcome{});

// Called after an event changed an application's state (from `before`): the
// start order and the headless manager's readiness follow it. Set by the
// layer that keeps them; none by default.
using StateChangeHook = void (*)(AppEntry& entry, AppState before);
void SetStateChangeHook(StateChangeHook hook);

// New entries that hold processes in their own containers (from an earlier
// manager) attach to them first, so that those processes are theirs before
// any other entry looks for a copy of its executable.
void ClaimContainedCopies(const std::vector<AppEntry*>& entries, AttachBatch& batch);

// A new entry attaches to a running copy of its executable (in `batch`'s
// reading of the process list) or launches it; nothing when it holds a
// process already.
void TakeUnderSupervision(AppEntry& entry, AttachBatch& batch);

// The wait callback of an application's process handle: the process has
// ended on its own.
void OnAppExit(WaitTable* table, std::int32_t index, void* context);
