// Start-up of the manager: one copy at a time, the configuration, the
// console window, the applications, the commands, then the event loop.
#pragma once

class ArgReader;
class IniFile;

inline constexpr char kConfigFileName[] = "zelkappmgr.ini";
inline constexpr char kInstanceName[] = "ZelkAppMgr";
inline constexpr char kWindowTitle[] = "Zelk Application Manager";

// The whole program; returns its exit code: 0, or 1 when the single-instance
// guard could not be established safely (and, headless, when the
// configuration cannot be read). `headless`: without a console (see
// headless.h).
int ManagerMain(bool headless = false);

// Creates one application per entry of every [Applications] section, in
// file order, with its parameters from [Parameters] and its stop time limit
// from [StopTimeout] (else [General] StopTimeout).
void CreateApplications(const IniFile& ini);

// Reads the optional [General] keys LogFile, ReportExits, RetryFailedStarts,
// StopTimeout, EndLeftovers, RestartDelay, RestartDelayMax, MinUptime,
// GiveUpAfter, ExtraCommands and the Output keys; opens the log file and
// makes the output directory.
void ReadOperatorOptions(const IniFile& ini);

// Set from the configuration: the console commands beyond the nine ("tail").
extern bool ExtraCommandsFlag;

// Fills the command table with the nine console commands, and the extra ones
// when ExtraCommandsFlag is set.
void RegisterCommands();

// The "quit" command: the event loop ends after the pass that runs it; the
// applications keep running.
void QuitCommand(ArgReader* args);
