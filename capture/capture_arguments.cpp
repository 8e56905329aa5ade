#include "capture/capture_arguments.h"

#include <cstdlib>
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
    count = TakeReadyLineArguments(count, arguments, &settings->readyLine);
    if (count != kArgumentCount || std::strcmp(arguments[0], kCaptureOption) != 0)
        return false;
    settings->path = arguments[1];
    settings->maxBytes = std::strtoull(arguments[2], nullptr, 10);
    settings->backups = static_cast<std::uint32_t>(std::strtoul(arguments[3], nullptr, 10));
    settings->timestamps = std::strcmp(arguments[4], "1") == 0;
    return !settings->path.empty();
}
