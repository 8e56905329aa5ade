#include "supervisor/capture.h"

#include "console/console.h"
#include "port/process.h"
#include "port/system.h"

#include <cstdio>

std::string OutputDirectory;
std::uint64_t OutputMaxBytes = kDefaultOutputMaxBytes;
std::uint32_t OutputBackups = kDefaultOutputBackups;
bool OutputTimestampsFlag = false;

std::string OutputFileName(std::string_view name) {
    std::string file(name);
    for (char& c : file) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!kept)
            c = '_';
    }
    return file + ".log";
}

std::string OutputPath(std::string_view name) {
    std::string path = OutputDirectory;
    if (!path.empty() && path.back() != '/' && path.back() != port::kPathSeparator)
        path += port::kPathSeparator;
    return path + OutputFileName(name);
}

std::string BackupPath(const std::string& path, std::uint32_t n) {
    return n == 0 ? path : path + "." + std::to_string(n);
}

namespace {

// How much of a file's end is read for its last lines.
constexpr long kTailBytes = 256 * 1024;

// The lines of the last kTailBytes of `path` (the first may be cut short),
// appended to *lines; false when the file cannot be read.
bool ReadFileEnd(const std::string& path, std::vector<std::string>* lines) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        std::fseek(file, size > kTailBytes ? size - kTailBytes : 0, SEEK_SET);
    }
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    std::fclose(file);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        // A CR LF line end (Windows programs write them) ends the line too.
        const std::size_t cut = end > start && text[end - 1] == '\r' ? end - 1 : end;
        lines->push_back(text.substr(start, cut - start));
        start = end + 1;
    }
    return true;
}

} // namespace

bool ReadLastOutputLines(std::string_view name, std::size_t count,
                         std::vector<std::string>* lines) {
    lines->clear();
    const std::string path = OutputPath(name);
    std::vector<std::string> current;
    const bool read = ReadFileEnd(path, &current);
    if (current.size() < count) {
        if (!ReadFileEnd(BackupPath(path, 1), lines) && !read)
            return false;
    }
    lines->insert(lines->end(), current.begin(), current.end());
    if (lines->size() > count)
        lines->erase(lines->begin(), lines->end() - static_cast<long>(count));
    return true;
}

port::UniqueFile StartOutputCapture(std::string_view name) {
    if (OutputDirectory.empty())
        return port::UniqueFile();
    port::Handle readEnd = port::kNullHandle;
    port::Handle writeEnd = port::kNullHandle;
    std::uint32_t error = 0;
    if (port::CreateOutputPipe(&readEnd, &writeEnd)) {
        const port::UniqueFile input(readEnd);
        port::UniqueFile output(writeEnd);
        const std::string path = OutputPath(name);
        const std::string maxBytes = std::to_string(OutputMaxBytes);
        const std::string backups = std::to_string(OutputBackups);
        const char* const arguments[] = {"--capture",
                                         path.c_str(),
                                         maxBytes.c_str(),
                                         backups.c_str(),
                                         OutputTimestampsFlag ? "1" : "0",
                                         nullptr};
        if (port::StartDetachedCopy(arguments, input.Get(), &error))
            return output;
    } else {
        error = port::LastError();
    }
    const std::string shown(name);
    PrintMessage("Could not capture the output of %s. Error: %d.", shown.c_str(),
                 static_cast<int>(error));
    return port::UniqueFile();
}
