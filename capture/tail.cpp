#include "capture/tail.h"

#include "capture/output_capture.h"
#include "capture/output_file.h"
#include "common/text.h"
#include "console/arg_reader.h"
#include "console/command_table.h"
#include "console/console.h"
#include "supervisor/app_commands.h"

#include <algorithm>
#include <cstdio>

namespace {

// How much of a file's end is read for its last lines.
constexpr long kTailBytes = 256 * 1024;

constexpr int kDefaultLines = 10;
constexpr int kMostLines = 100;

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
    std::vector<std::string> lines;
    if (!ReadLastOutputLines(OutputPath(settings.output, settings.name),
                             static_cast<std::size_t>(count), &lines)) {
        PrintMessage("No output of %s yet.", settings.name.c_str());
        return;
    }
    // Each line an entry of its own, cut where an entry ends.
    for (const std::string& line : lines)
        PrintMessage("%s", line.c_str());
}
