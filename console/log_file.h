// The log file: a copy of every log entry, one line each, that outlives the
// screen and the manager. It reports nothing itself: its callers say what
// failed.
#pragma once

#include "port/types.h"

#include <cstddef>
#include <string>
#include <string_view>

struct LogFile {
    std::string path;                        // empty: no log file
    port::Handle handle = port::kNullHandle; // open to the end; null while it cannot be opened
    // A failure was reported, and nothing was written since.
    bool writeFailureReported = false;
    // The rest of an entry that a short write cut (the disk was full): it
    // is written before anything else, so that every entry is a whole line.
    std::string unfinished;
    // A path that could not be opened, as was reported: a later try of the
    // same path that fails again is not reported again.
    std::string unopened;
};

// Opens `path` for appending. False when it cannot be opened: the manager
// then goes on without a file (path empty).
bool OpenLogFile(LogFile& file, const std::string& path);

// Closes the log file, if there is one: the manager goes on without.
void CloseLogFile(LogFile& file);

// The file's line for one entry: the stamp, a blank, the text with every
// control byte shown as in the log, and a line feed.
std::string LogFileLine(std::string_view stamp, std::string_view text);

enum class LogFileWrite {
    Done,         // written, or there is no file
    Failed,       // not written; a failure was reported before
    FirstFailure, // not written, and no failure was reported yet: report this one
};

// Appends one entry to the log file, when there is one, with one write. A
// file deleted or renamed meanwhile is opened anew at its path first. An
// entry is never glued to the piece of one that a failure cut: that is
// finished first, and while it cannot be, later entries are left out. Later
// entries are still tried after a failure, and a failure after a success is
// reported again.
LogFileWrite AppendLogEntry(LogFile& file, std::string_view stamp, std::string_view text);
