// The operator's commands on the supervised applications, by number or
// display name.
#pragma once

#include <string_view>

class ArgReader;

void ListCommand(ArgReader* args);
void StartCommand(ArgReader* args);
void StopCommand(ArgReader* args);
void RestartCommand(ArgReader* args);
void StartAllCommand(ArgReader* args);
void StopAllCommand(ArgReader* args);
void RestartAllCommand(ArgReader* args);

// "tail N [LINES]": the last lines of an application's captured output.
void TailCommand(ArgReader* args);

class AppEntry;

// The application with this display name (ignoring ASCII case) that is not
// removed; null when there is none.
AppEntry* FindApplication(std::string_view name);

// "restart" of one application that runs, is stopping or waits for a
// relaunch (a reload that changed it).
void RestartApplication(AppEntry& entry);

// An application gone from the configuration: stopped as "stop" stops it,
// nothing pending kept; its number stays, empty.
void RemoveApplication(AppEntry& entry);

// Ends at once the trees of the applications that are stopping ("quit").
void EndPendingStops();

// Stops every application for good, side by side where stops take time:
// pending starts are dropped and nothing is started again.
void StopEverything();

// True while an application's stop is under way.
bool AnyStopping();
