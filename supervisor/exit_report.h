// Saying how an application ended on its own, before it is started again.
#pragma once

class AppEntry;

// Set from the configuration: report every exit that was not asked for.
extern bool ReportExitsFlag;

// Writes how the entry's process ended, as OnAppExit recorded it: its exit
// code, or the signal that ended it.
void ReportExit(const AppEntry& entry);
