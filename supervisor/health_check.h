// The [Health] check of a ready application: every S seconds a TCP
// connection to its port, a command run through the shell, each within S
// seconds, or an HTTP GET within S seconds but at most 10. After [HealthFailures] failures in a row
// it is reported; between checks nothing of it wakes the manager.
#pragma once

#include "supervisor/app_entry.h"

// Checks the entry from now on, the first time one period from now:
// report(entry, AppEvent::HealthFailed) after the failures in a row its
// settings allow. Checks under way are replaced.
void BeginHealthChecks(AppEntry& entry, WatchReport report);

// Ends the checks, if they run: a command under way is ended with its tree
// (and reaped once it has ended).
void EndHealthChecks(AppEntry& entry);

// How the status report shows it: "healthy", "unhealthy", or "-" before the
// first check, while it is not checked, or without a check.
const char* HealthWord(const AppEntry& entry);
