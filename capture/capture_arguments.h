// The arguments the manager gives its capture process, and their reading on
// the capture process's side: one place for their order.
#pragma once

#include "capture/ready_line.h"
#include "config/settings.h"

#include <cstdint>
#include <string>
#include <vector>

// What a capture process does: where it writes, when it rotates, how many
// backups it keeps and whether it stamps lines.
struct CaptureSettings {
    std::string path;
    std::uint64_t maxBytes = OutputSettings{}.maxBytes;
    std::uint32_t backups = OutputSettings{}.backups;
    bool timestamps = false;
    ReadyLine readyLine = {}; // [Ready] output TEXT
};

// The first argument of a capture process.
inline constexpr char kCaptureOption[] = "--capture";

// The arguments after the program's name: kCaptureOption and the settings.
std::vector<std::string> CaptureArguments(const CaptureSettings& settings);

// Reads the arguments after the program's name (`count` of them). False,
// leaving *settings as it was, when they are not a capture process's: the
// option, a path, a size of at most kMaxOutputMaxBytes, a number of
// backups and 0 or 1, the numbers in decimal digits only; then, perhaps,
// the ready line's arguments.
bool ParseCaptureArguments(int count, const char* const* arguments, CaptureSettings* settings);
