#include "supervisor/exit_policy.h"

#include <algorithm>

namespace {

// Without RestartDelayMax the longest pause is this many times the first.
constexpr std::uint32_t kDefaultMaxFactor = 60;
// The longest wait before a new attempt is this many times the first.
constexpr std::uint32_t kLongestRetryFactor = 10;

std::uint32_t LongestPause(const RestartPolicy& policy) {
    const std::uint32_t first = policy.restartDelaySeconds;
    const std::uint32_t longest = policy.restartDelayMaxSeconds != 0 ? policy.restartDelayMaxSeconds
                                                                     : first * kDefaultMaxFactor;
    return std::clamp(longest, first, kMaxRestartDelayMaxSeconds);
}

} // namespace

RestartPlan PlanRestart(const RestartPolicy& policy, RestartCount& count, std::uint64_t uptimeMs) {
    // Quick exits are counted also without a pause or a give-up, so that the
    // status shows a crash loop for what it is.
    if (uptimeMs >= std::uint64_t{policy.minUptimeSeconds} * 1000u) {
        count = RestartCount{};
        return RestartPlan::Now;
    }
    ++count.quickExits;
    if (policy.giveUpAfter != 0 && count.quickExits >= policy.giveUpAfter)
        return RestartPlan::GiveUp;
    if (policy.restartDelaySeconds == 0)
        return RestartPlan::Now;
    count.pause.Next(policy.restartDelaySeconds, LongestPause(policy));
    return RestartPlan::Later;
}

std::uint32_t NextRetrySeconds(const RestartPolicy& policy, DoublingDelay& retry) {
    const std::uint32_t first = policy.retryFailedStartsSeconds;
    if (first == 0)
        return 0;
    return retry.Next(first, std::min(first * kLongestRetryFactor, kMaxRetrySeconds));
}
