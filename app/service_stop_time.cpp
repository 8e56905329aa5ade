#include "app/service_stop_time.h"

#include <algorithm>

std::uint32_t LongestStopSeconds(const Settings& settings) {
    std::uint32_t longest = 0;
    for (const AppSettings& app : settings.apps)
        longest = std::max(longest, app.stopTimeoutSeconds);
    return longest;
}

std::uint32_t ServiceStopSeconds(std::uint32_t longestStopSeconds) {
    return std::max(longestStopSeconds + kServiceStopMarginSeconds, kDefaultServiceStopSeconds);
}
