#include "console/log_file.h"

#include "common/text.h"
#include "port/file.h"

bool OpenLogFile(LogFile& logFile, const std::string& path) {
    CloseLogFile(logFile);
    logFile.handle = port::OpenAppendFile(path.c_str());
    if (logFile.handle != port::kNullHandle)
        logFile.path = path;
    return logFile.handle != port::kNullHandle;
}

void CloseLogFile(LogFile& logFile) {
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

namespace {

bool Write(LogFile& logFile, const std::string& line) {
    // A deleted or renamed file is left to whoever moved it, with the cut
    // entry it may end in.
    if (logFile.handle != port::kNullHandle &&
        !port::FileStillAtPath(logFile.handle, logFile.path.c_str())) {
        port::CloseFile(logFile.handle);
        logFile.handle = port::kNullHandle;
        logFile.unfinished.clear();
    }
    if (logFile.handle == port::kNullHandle)
        logFile.handle = port::OpenAppendFile(logFile.path.c_str());
    if (logFile.handle == port::kNullHandle)
        return false;
    std::uint32_t written = 0;
    if (!logFile.unfinished.empty()) {
        const bool done =
            port::AppendToFile(logFile.handle, logFile.unfinished.data(),
                               static_cast<std::uint32_t>(logFile.unfinished.size()), &written);
        logFile.unfinished.erase(0, written);
        if (!done)
            return false;
    }
    if (port::AppendToFile(logFile.handle, line.data(), static_cast<std::uint32_t>(line.size()),
                           &written))
        return true;
    if (written > 0)
        logFile.unfinished = line.substr(written);
    return false;
}

} // namespace

LogFileWrite AppendLogEntry(LogFile& logFile, std::string_view stamp, std::string_view text) {
    if (logFile.path.empty())
        return LogFileWrite::Done;
    if (Write(logFile, LogFileLine(stamp, text))) {
        logFile.writeFailureReported = false;
        return LogFileWrite::Done;
    }
    if (logFile.writeFailureReported)
        return LogFileWrite::Failed;
    // Set first: the report is an entry of its own, whose write may fail too.
    logFile.writeFailureReported = true;
    return LogFileWrite::FirstFailure;
}
