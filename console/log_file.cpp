#include "console/log_file.h"

#include "common/text.h"
#include "port/file.h"

LogFile logFile;

bool OpenLogFile(const std::string& path) {
    CloseLogFile();
    logFile.path = path;
    logFile.handle = port::OpenAppendFile(path.c_str());
    return logFile.handle != port::kNullHandle;
}

void CloseLogFile() {
    port::CloseFile(logFile.handle);
    logFile = LogFile{};
}

std::string LogFileLine(std::string_view stamp, std::string_view text) {
    std::string line;
    line.reserve(stamp.size() + text.size() + 2);
    line.append(stamp);
    line += ' ';
    // Control bytes would reach whoever shows the file on a terminal.
    line += WithoutControlBytes(text);
    line += '\n';
    return line;
}

LogFileWrite AppendLogEntry(std::string_view stamp, std::string_view text) {
    if (logFile.handle == port::kNullHandle)
        return LogFileWrite::Done;
    const std::string line = LogFileLine(stamp, text);
    if (port::AppendToFile(logFile.handle, line.data(), static_cast<std::uint32_t>(line.size())))
        return LogFileWrite::Done;
    if (logFile.writeFailureReported)
        return LogFileWrite::Failed;
    // Set first: the report is an entry of its own, whose write may fail too.
    logFile.writeFailureReported = true;
    return LogFileWrite::FirstFailure;
}
