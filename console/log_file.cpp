#include "console/log_file.h"

#include "console/console.h"
#include "port/file.h"

LogFile logFile;

void OpenLogFile(const std::string& path) {
    logFile = LogFile{};
    logFile.path = path;
    logFile.handle = port::OpenAppendFile(path.c_str());
    if (logFile.handle == port::kNullHandle)
        PrintMessage("Could not open log file %s!", path.c_str());
}

std::string LogFileLine(std::string_view stamp, std::string_view text) {
    std::string line;
    line.reserve(stamp.size() + text.size() + 2);
    line.append(stamp);
    line += ' ';
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        // Control bytes would reach whoever shows the file on a terminal.
        line += (byte < 32 || byte == 127) ? '?' : c;
    }
    line += '\n';
    return line;
}

void AppendLogEntry(std::string_view stamp, std::string_view text) {
    if (logFile.handle == port::kNullHandle)
        return;
    const std::string line = LogFileLine(stamp, text);
    if (port::AppendToFile(logFile.handle, line.data(), static_cast<std::uint32_t>(line.size())))
        return;
    if (logFile.writeFailureReported)
        return;
    // Set first: the report is an entry of its own, whose write may fail too.
    logFile.writeFailureReported = true;
    PrintMessage("Could not write to log file %s!", logFile.path.c_str());
}
