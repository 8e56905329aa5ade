// The operator's commands on the supervised applications, by number or
// display name, and the same steps for every application at once.
#pragma once

class ArgReader;
struct AppEntry;

void ListCommand(ArgReader* args);
void StartCommand(ArgReader* args);
void StopCommand(ArgReader* args);
void RestartCommand(ArgReader* args);
void StartAllCommand(ArgReader* args);
void StopAllCommand(ArgReader* args);
void RestartAllCommand(ArgReader* args);

// "signal N NAME": a signal to the application's own process.
void SignalCommand(ArgReader* args);

// The application the next argument names: a number when it begins with a
// digit (read like atoi, so "1x" is 1), else a display name; null after
// saying "Application does not exist." A word never stands for 0.
AppEntry* ReadApplication(ArgReader* args);

// Ends at once the trees of the applications that are stopping (a second
// request to end a headless manager).
void EndPendingStops();

// Says of each application whose stop is under way that it is left to end
// on its own: its tree was asked to end already ("quit").
void LeaveStopsToFinish();

// Stops every application for good, side by side where stops take time:
// pending starts are dropped and nothing is started again.
void StopEverything();

// True while an application's stop is under way.
bool AnyStopping();
