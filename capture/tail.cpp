#include "capture/tail.h"

#include "capture/output_capture.h"
#include "capture/output_file.h"
#include "common/text.h"
#include "console/arg_reader.h"
#include "console/command_table.h"
#include "console/console.h"
#include "port/file.h"
#include "supervisor/app_commands.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kDefaultLines = 10;
constexpr int kMostLines = 100;

// The lines of the last kTailBytes of the regular file `path` (the first
// may be cut short), appended to *lines; false when it cannot be read.
bool ReadFileEnd(const std::string& path, std::vector<std::string>* lines) {
    std::vector<char> buffer(kTailBytes);
    const char* text = buffer.data();
    std::uint32_t length = 0;
    if (!port::ReadFileEnd(path.c_str(), buffer.data(), kTailBytes, &length))
        return false;
    std::size_t start = 0;
    while (start < length) {
        const char* found =
            static_cast<const char*>(std::memchr(text + start, '\n', length - start));
        const std::size_t end = found != nullptr ? static_cast<std::size_t>(found - text) : length;
        // A CR LF line end (Windows programs write them) ends the line too.
        const std::size_t cut = end > start && text[end - 1] == '\r' ? end - 1 : end;
        lines->emplace_back(text + start, cut - start);
        start = end + 1;
    }
    return true;
}

} // namespace

bool ReadLastOutputLines(const std::string& path, std::size_t count,
                         std::vector<std::string>* lines) {
    lines->clear();
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

void TailCommand(ArgReader* args) {
    auto usage = [] {
        PrintMessage("Usage: tail N [LINES]");
        FailCommand();
    };
    if (!args->HasToken()) {
        usage();
        return;
    }
    AppEntry* entry = ReadApplication(args);
    if (entry == nullptr)
        return;
    const AppSettings& settings = entry->settings;
    if (settings.output.directory.empty()) {
        PrintMessage("Output is not captured.");
        return;
    }
    int count = kDefaultLines;
    if (const char* lines = args->NextToken()) {
        if (lines[0] < '0' || lines[0] > '9') {
            usage();
            return;
        }
        count = std::min(std::max(ParseLeadingInt(lines), 1), kMostLines);
    }
    const std::string path = OutputPath(settings.output, settings.name);
    port::PathInfo info{};
    if (port::ReadPathInfo(path.c_str(), false, &info) && !info.regularFile) {
        PrintMessage("Output of %s is not a regular file.", settings.name.c_str());
        return;
    }
    std::vector<std::string> lines;
    if (!ReadLastOutputLines(path, static_cast<std::size_t>(count), &lines)) {
        PrintMessage("No output of %s yet.", settings.name.c_str());
        return;
    }
    // Each line an entry of its own, cut where an entry ends.
    for (const std::string& line : lines)
        PrintMessage("%s", line.c_str());
}
