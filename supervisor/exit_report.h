// Saying how an application ended on its own, before it is started again.
#pragma once

class AppEntry;

// Set from the configuration: report every exit that was not asked for.
extern bool ReportExitsFlag;

// Writes how the entry's process ended: its exit code, or the signal that
// ended it. The process must have ended and its handle still be open.
void ReportExit(const AppEntry& entry);
