#include "supervisor/restart_delay.h"

#include "console/console.h"
#include "port/system.h"

#include <algorithm>

std::uint32_t RestartDelaySeconds = 0;
std::uint32_t RestartDelayMaxSeconds = 0;
std::uint32_t MinUptimeSeconds = kDefaultMinUptimeSeconds;
std::uint32_t GiveUpAfterExits = 0;

namespace {

constexpr std::uint32_t kDefaultMaxFactor = 60;

std::uint32_t LongestDelay() {
    const std::uint32_t longest = RestartDelayMaxSeconds != 0
                                      ? RestartDelayMaxSeconds
                                      : RestartDelaySeconds * kDefaultMaxFactor;
    return std::clamp(longest, RestartDelaySeconds, kMaxRestartDelayMaxSeconds);
}

} // namespace

RestartPlan PlanRestart(RestartBackoff& backoff, std::uint64_t uptimeMs) {
    if (RestartDelaySeconds == 0 && GiveUpAfterExits == 0)
        return RestartPlan::Now;
    if (uptimeMs >= std::uint64_t{MinUptimeSeconds} * 1000u) {
        backoff.quickExits = 0;
        backoff.delaySeconds = 0;
        return RestartPlan::Now;
    }
    ++backoff.quickExits;
    if (GiveUpAfterExits != 0 && backoff.quickExits >= GiveUpAfterExits) {
        backoff.gaveUp = true;
        return RestartPlan::GiveUp;
    }
    if (RestartDelaySeconds == 0)
        return RestartPlan::Now;
    backoff.delaySeconds = backoff.delaySeconds == 0
                               ? RestartDelaySeconds
                               : std::min(backoff.delaySeconds * 2, LongestDelay());
    return RestartPlan::Later;
}

void ScheduleRestart(RestartBackoff& backoff, const char* name, std::uint64_t endedMs,
                     TimerCallback relaunch, void* context) {
    backoff.dueMs = endedMs + std::uint64_t{backoff.delaySeconds} * 1000u;
    const std::uint64_t now = port::NowMs();
    CancelTimer(backoff.timer);
    backoff.timer = AddTimer(backoff.dueMs > now ? backoff.dueMs - now : 0, relaunch, context);
    PrintMessage("Will restart %s in %d s.", name, static_cast<int>(backoff.delaySeconds));
}

bool ResetBackoff(RestartBackoff& backoff) {
    const bool pending = CancelTimer(backoff.timer);
    backoff = RestartBackoff{};
    return pending;
}
