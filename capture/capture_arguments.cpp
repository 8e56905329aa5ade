#include "capture/capture_arguments.h"

#include "common/text.h"

#include <cstring>

namespace {

// kCaptureOption, the path, the size limit, the backups and the stamps.
constexpr int kArgumentCount = 5;

} // namespace

std::vector<std::string> CaptureArguments(const CaptureSettings& settings) {
    std::vector<std::string> arguments{
        kCaptureOption, settings.path, std::to_string(settings.maxBytes),
        std::to_string(settings.backups), settings.timestamps ? "1" : "0"};
    AppendReadyLineArguments(settings.readyLine, &arguments);
    return arguments;
}

bool ParseCaptureArguments(int count, const char* const* arguments, CaptureSettings* settings) {
    ReadyLine readyLine;
    count = TakeReadyLineArguments(count, arguments, &readyLine);
    if (count != kArgumentCount || std::strcmp(arguments[0], kCaptureOption) != 0)
        return false;
    std::uint64_t maxBytes = 0;
    std::uint64_t backups = 0;
    if (arguments[1][0] == '\0' || !ParseWholeNumber(arguments[2], kMaxOutputMaxBytes, &maxBytes) ||
        !ParseWholeNumber(arguments[3], 0xFFFFFFFFu, &backups) ||
        (std::strcmp(arguments[4], "0") != 0 && std::strcmp(arguments[4], "1") != 0))
        return false;
    settings->path = arguments[1];
    settings->maxBytes = maxBytes;
    settings->backups = static_cast<std::uint32_t>(backups);
    settings->timestamps = arguments[4][0] == '1';
    settings->readyLine = readyLine;
    return true;
}
