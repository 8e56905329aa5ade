// Where an application's events arrive: each goes through the transition
// table (supervisor/app_state.h), the entry takes the next state, and the
// step's actions are taken here, in the order of their bits. Events are
// handled one at a time: one raised while another is handled (the outcome
// of a launch, a stop that cannot wait, what the start order does after a
// change) waits in a queue and is handled after it.
#pragma once

#include "loop/wait_table.h"
#include "supervisor/app_entry.h"
#include "supervisor/supervision.h"

// Takes `event` to the entry, and then whatever events that raised.
void Dispatch(AppEntry& entry, AppEvent event, const ExitOutcome& exit = ExitOutcome{});

// Follows every change of an application's state with `hook` (the start
// order, the headless manager's readiness), called with `context`.
void SetStateChangeHook(StateChangeHook hook, void* context = nullptr);

// Watches the entry's memory against its [MaxMemory] while it is up, or no
// longer when it has no limit (after a reload changed its settings).
void KeepWatchingMemory(AppEntry& entry);

// Calls `hook` with `context` each time the events under way, and those
// their changes raised, have all been handled.
void SetSettledHook(SettledHook hook, void* context = nullptr);

// True when the entry is not to be started again: the manager ends every
// application, or a stop of it waits for its turn.
bool StaysDown(const AppEntry& entry);

// The wait callback of an application's process handle: the process has
// ended on its own.
void OnAppExit(WaitTable* table, std::int32_t index, void* context);
