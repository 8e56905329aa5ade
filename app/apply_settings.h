// Putting a settings value to work, at start-up and at a reload: the log
// file, the console window, the output directory, the reports about what the
// file holds that cannot be used, and the applications.
#pragma once

#include "config/settings.h"
#include "supervisor/attach.h"

#include <vector>

struct AppEntry;

// LogFile: opens the log file, or closes it without the key; nothing when
// the path is the one open. Done before anything else is logged from the
// file, so that the file gets every entry.
void ApplyLogFile(const GeneralSettings& general);

// Says which section headers of the file are malformed (and so ignored).
void ReportMalformedHeaders(const Settings& settings);

// DisableCloseButton: the console window's close item removed. Nothing
// without a console.
void ApplyCloseButton(const GeneralSettings& general);

// Says when OutputMaxBytes was ignored. Makes the output directory, or checks
// the one there (it must be this user's, or root's, and closed to others'
// writing); when it cannot be used, says why, and no output is captured.
void PrepareOutputDirectory(Settings* settings);

// Says which entries of the file cannot be used (and so are left out):
// [Environment] words that are no NAME=VALUE, [StopSignal] values.
void ReportIgnoredEntries(const Settings& settings);

// True, after saying so, when the output of `settings` would go to the file
// of an application in the table: that one is not taken.
bool OutputFileTaken(const AppSettings& settings);

// Says which [Ready] and [Health] entries cannot be read (and so are left
// out), and drops the "notify" rule where the system has no notify socket.
void ReportIgnoredReadiness(Settings* settings);

// Appends the applications to the table, in order: each attaches to a
// running copy or starts, and they share one reading of the process list.
// One is refused, with a message, beyond the table's 15 entries or when its
// output would share the file of another. Then the start order of the whole
// table is read again (what cannot be kept is said): one with an [After]
// starts once what it starts after is ready.
void AddApplications(const std::vector<AppSettings>& apps);

// Applications put in the table together (at start-up, or by a reload),
// taken under supervision: each attaches to a running copy or starts as it
// comes, those with an [After] once the order is known again (StartInOrder).
// With containers, every one is in the table first, and those whose own
// containers hold processes attach to them before any looks for a copy of
// its executable.
struct NewEntries {
    bool claimFirst = false;
    AttachBatch batch;
    std::vector<AppEntry*> added;
    std::vector<AppEntry*> ordered;
};
NewEntries BeginNewEntries(const std::vector<AppSettings>& apps);
void AddNewEntry(NewEntries& entries, AppEntry& entry);
void FinishNewEntries(NewEntries& entries);

// Works the start order out again (saying whose is ignored), takes the new
// applications of `ordered` (each with an [After], not yet under
// supervision) under it in that order, and starts what waits for its order
// and may start now.
void StartInOrder(const std::vector<AppEntry*>& ordered, AttachBatch& batch);
