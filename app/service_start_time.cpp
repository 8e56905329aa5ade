#include "app/service_start_time.h"

#include "supervisor/start_order.h"

#include <algorithm>

std::uint32_t LongestReadySeconds(const Settings& settings) {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> after;
    for (const AppSettings& app : settings.apps) {
        names.push_back(app.name);
        after.push_back(app.readiness.after);
    }
    const StartOrder order = ResolveStartOrder(names, after);
    // Each application's longest wait from start-up until it is ready, taken
    // in the start sequence, so that those it starts after come first.
    std::vector<std::uint32_t> readyBy(settings.apps.size(), 0);
    std::uint32_t longest = 0;
    for (int i : order.sequence) {
        const std::size_t app = static_cast<std::size_t>(i);
        const ReadinessSettings& readiness = settings.apps[app].readiness;
        std::uint32_t own = 0;
        if (readiness.ready.kind != ReadyRule::Kind::Launched) {
            if (readiness.readyTimeoutSeconds == 0)
                return kUnlimitedStartSeconds;
            own = readiness.readyTimeoutSeconds;
        }
        std::uint32_t before = 0;
        for (int first : order.after[app])
            before = std::max(before, readyBy[static_cast<std::size_t>(first)]);
        readyBy[app] = before + own;
        longest = std::max(longest, readyBy[app]);
    }
    return longest;
}

std::uint32_t ServiceStartSeconds(std::uint32_t longestReadySeconds) {
    if (longestReadySeconds == kUnlimitedStartSeconds)
        return kUnlimitedStartSeconds;
    return std::max(longestReadySeconds + kServiceStartMarginSeconds, kDefaultServiceStartSeconds);
}
