// Putting a settings value to work, at start-up and at a reload: the log
// file, the console window, the output directory, the reports about what the
// file holds that cannot be used, and the applications.
#pragma once

#include "config/settings.h"

#include <vector>

// LogFile: opens the log file, or closes it without the key; nothing when
// the path is the one open. Done before anything else is logged from the
// file, so that the file gets every entry.
void ApplyLogFile(const GeneralSettings& general);

// Says which section headers of the file are malformed (and so ignored).
void ReportMalformedHeaders(const Settings& settings);

// DisableCloseButton: the console window's close item removed. Nothing
// without a console.
void ApplyCloseButton(const GeneralSettings& general);

// Makes the output directory; when that fails, says so, and no output is
// captured.
void PrepareOutputDirectory(Settings* settings);

// Says which [Environment] words are no NAME=VALUE (and so left out).
void ReportIgnoredEnvironment(const Settings& settings);

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
