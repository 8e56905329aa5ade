// The start order applied to the application table: what each application
// starts after, starts that wait until that is ready, and "stopall" (and the
// end of a headless manager) in reverse order. The rules themselves are in
// supervisor/start_order.h.
#pragma once

#include "supervisor/app_entry.h"

#include <string>
#include <utility>
#include <vector>

// Reads the [After] of every application in the table again (at start-up,
// after a reload) and gives each its part. Returns the name of each
// application whose order is ignored, and why.
std::vector<std::pair<std::string, std::string>> ResolveApplicationOrder();

// True when some application has a start order (kept, not ignored).
bool AnyStartOrder();

// The applications that are not removed, each after those it starts after
// (in table order without a start order).
std::vector<AppEntry*> StartSequence();

// Takes `event` (StartAsked, RestartAsked, ReloadChanged) to the entry as a
// start that keeps the order: it waits until what it starts after is ready.
void DispatchInOrder(AppEntry& entry, AppEvent event);

// Takes `event` (StartAsked, RestartAsked) to the entry as a start of it
// alone ("start N", "restart N"): at once, whatever its order says.
void DispatchAtOnce(AppEntry& entry, AppEvent event);

// Takes `event` (StopAsked, Shutdown) to every application, those that
// others start after only once those others have stopped.
void StopInOrder(AppEvent event);

// "restartall" with a start order: stops as StopInOrder(StopAsked) does,
// then, once the last has stopped, starts every application in start order.
void RestartInOrder();

// True when the entry waits for its start order and what it waits for is
// down for good (stopped, gave up, failed): nothing will start it.
bool WaitsInVain(const AppEntry& entry);

// True while an ordered stop or restart has yet to stop the entry, or to
// start it again.
bool InOrderedOperation(const AppEntry& entry);

// Starts the applications waiting for their order whose order is met now
// (after a reload changed it).
void StartWaitingInOrder();

// Follows a change of the entry's state: what waited for it to be ready
// starts, a stop that waited for it to stop is asked.
void ContinueOrder(AppEntry& entry, AppState before);

// True while a stop waits for its turn: for others to stop first.
bool AnyWaitingStop();

// True when no application is starting, nor waits for its start order
// unless what it waits for is down for good (stopped, gave up): the
// manager's start-up has come as far as it will by itself.
bool StartUpSettled();

// Drops the stops that wait ("quit": those applications keep running), or,
// while the manager ends every application, asks them at once.
void ReleaseWaitingStops();
