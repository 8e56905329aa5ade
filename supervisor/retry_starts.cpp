#include "supervisor/retry_starts.h"

#include "console/console.h"
#include "port/system.h"

#include <algorithm>

std::uint32_t RetryFailedStartsSeconds = 0;

namespace {

constexpr std::uint32_t kLongestWaitFactor = 10;

} // namespace

void ScheduleRetry(StartRetry& retry, const char* name, TimerCallback attempt, void* context) {
    const std::uint32_t first = RetryFailedStartsSeconds;
    if (first == 0)
        return;
    const std::uint32_t delay = retry.delaySeconds == 0
                                    ? first
                                    : std::min(retry.delaySeconds * 2, first * kLongestWaitFactor);
    retry.delaySeconds = delay;
    CancelTimer(retry.timer);
    retry.timer = AddTimer(std::uint64_t{delay} * 1000u, attempt, context);
    retry.dueMs = port::NowMs() + std::uint64_t{delay} * 1000u;
    PrintMessage("Will try to start %s again in %d s.", name, static_cast<int>(delay));
}

bool CancelRetry(StartRetry& retry) {
    const bool pending = CancelTimer(retry.timer);
    retry.timer = 0;
    retry.delaySeconds = 0;
    return pending;
}
