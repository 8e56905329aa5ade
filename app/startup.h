// Start-up of the manager: one copy at a time, the configuration, the
// console window, the applications, the commands, then the event loop.
#pragma once

class ArgReader;

inline constexpr char kInstanceName[] = "ZelkAppMgr";
inline constexpr char kWindowTitle[] = "Zelk Application Manager";

// The whole program; returns its exit code: 0, or 1 when the single-instance
// guard could not be established safely (and, headless, when the
// configuration cannot be read). `headless`: without a console (see
// headless.h).
int ManagerMain(bool headless = false);

// Fills the command table with the nine console commands, and the extra ones
// ("reload", "tail") with `extraCommands`.
void RegisterCommands(bool extraCommands = false);

// The "quit" command: the event loop ends after the pass that runs it; the
// applications keep running, and those still stopping finish on their own.
void QuitCommand(ArgReader* args);
