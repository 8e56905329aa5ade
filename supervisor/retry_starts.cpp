#include "supervisor/retry_starts.h"

#include "console/console.h"
#include "port/system.h"
#include "supervisor/app_entry.h"

#include <algorithm>

std::uint32_t RetryFailedStartsSeconds = 0;

namespace {

constexpr std::uint32_t kLongestWaitFactor = 10;

} // namespace

void ScheduleRetry(AppEntry& entry) {
    const std::uint32_t first = RetryFailedStartsSeconds;
    if (first == 0)
        return;
    const std::uint32_t delay = entry.retryDelaySeconds == 0 ? first
                                                             : std::min(entry.retryDelaySeconds * 2,
                                                                        first * kLongestWaitFactor);
    entry.retryDelaySeconds = delay;
    entry.retryDueMs = port::NowMs() + std::uint64_t{delay} * 1000u;
    entry.retryPending = true;
    PrintMessage("Will try to start %s again in %d s.", entry.name.c_str(),
                 static_cast<int>(delay));
}

bool CancelRetry(AppEntry& entry) {
    const bool pending = entry.retryPending;
    entry.retryPending = false;
    entry.retryDelaySeconds = 0;
    return pending;
}

std::uint32_t RetryWaitLimitMs() {
    std::uint64_t earliest = 0;
    bool any = false;
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry* entry = appTable.entries[i];
        if (!entry->retryPending)
            continue;
        earliest = any ? std::min(earliest, entry->retryDueMs) : entry->retryDueMs;
        any = true;
    }
    if (!any)
        return port::kWaitForever;
    const std::uint64_t now = port::NowMs();
    // The longest wait is ten days, well below kWaitForever.
    return earliest <= now ? 0 : static_cast<std::uint32_t>(earliest - now);
}

void RunDueRetries() {
    std::uint64_t now = 0;
    bool clockRead = false; // read once, and only when something is pending
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry* entry = appTable.entries[i];
        if (!entry->retryPending)
            continue;
        if (!clockRead) {
            now = port::NowMs();
            clockRead = true;
        }
        if (entry->retryDueMs > now)
            continue;
        // Launch plans the next attempt itself when this one fails.
        entry->retryPending = false;
        entry->Launch();
    }
}
