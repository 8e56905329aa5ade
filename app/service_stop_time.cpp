#include "app/service_stop_time.h"

#include "common/text.h"
#include "config/ini_file.h"
#include "supervisor/app_entry.h"

#include <algorithm>
#include <string_view>

namespace {

std::uint32_t Seconds(const std::string& value) {
    const int read = ParseLeadingInt(value.c_str());
    return read <= 0 ? 0 : std::min(static_cast<std::uint32_t>(read), kMaxStopTimeoutSeconds);
}

} // namespace

std::uint32_t LongestStopSeconds(const IniFile& ini) {
    std::uint32_t longest = 0;
    std::string value;
    if (ini.GetString("General", "StopTimeout", value))
        longest = Seconds(value);
    for (const auto& section : ini.Sections()) {
        if (!AsciiEqualNoCase(std::string_view(section->name), "StopTimeout"))
            continue;
        for (const auto& entry : section->entries)
            longest = std::max(longest, Seconds(entry->value));
    }
    return longest;
}

std::uint32_t ServiceStopSeconds(std::uint32_t longestStopSeconds) {
    return std::max(longestStopSeconds + kServiceStopMarginSeconds, kDefaultServiceStopSeconds);
}
