// The log file: a copy of every log entry, one line each, that outlives the
// screen and the manager. It reports nothing itself: its callers say what
// failed.
#pragma once

#include "port/types.h"

#include <cstddef>
#include <string>
#include <string_view>

struct LogFile {
    std::string path;
    port::Handle handle = port::kNullHandle; // null: no log file; else open to the end
    bool writeFailureReported = false;
};

extern LogFile logFile;

// Opens `path` for appending. False when it cannot be opened: the manager
// then goes on without a file.
bool OpenLogFile(const std::string& path);

// Closes the log file, if there is one: the manager goes on without.
void CloseLogFile();

// The file's line for one entry: the stamp, a blank, the text with every
// control byte shown as in the log, and a line feed.
std::string LogFileLine(std::string_view stamp, std::string_view text);

enum class LogFileWrite {
    Done,         // written, or there is no file
    Failed,       // not written; a failure was reported before
    FirstFailure, // not written, and no failure was reported yet: report this one
};

// Appends one entry to the log file, when there is one, with one write.
// Later entries are still tried after a failure.
LogFileWrite AppendLogEntry(std::string_view stamp, std::string_view text);
