// The log file: a copy of every log entry, one line each, that outlives the
// screen and the manager.
#pragma once

#include "port/types.h"

#include <cstddef>
#include <string>
#include <string_view>

struct LogFile {
    std::string path;
    port::Handle handle = port::kNullHandle; // null: no log file
    bool writeFailureReported = false;
};

extern LogFile logFile;

// Opens `path` for appending. When it cannot be opened, the log says so and
// the manager goes on without a file.
void OpenLogFile(const std::string& path);

// The file's line for one entry: the stamp, a blank, the text with every byte
// below 32 and byte 127 replaced by '?', and a line feed.
std::string LogFileLine(std::string_view stamp, std::string_view text);

// Appends one entry to the log file, when there is one, with one write.
// WriteLogLine calls it for every entry. The first failing write is reported
// in the log; later entries are still tried.
void AppendLogEntry(std::string_view stamp, std::string_view text);
