#include "supervisor/pending_start.h"

#include "port/system.h"

#include <algorithm>

std::uint32_t DoublingDelay::Next(std::uint32_t first, std::uint32_t longest) {
    seconds = seconds == 0 ? first : std::min(seconds * 2, longest);
    return seconds;
}

bool PlanStart(PendingStart& pending, PendingStart::Kind kind, std::uint64_t dueMs,
               TimerCallback due, void* context) {
    const std::uint64_t now = port::NowMs();
    pending.dueMs = dueMs;
    pending.kind = kind;
    return pending.timer.Start(dueMs > now ? dueMs - now : 0, due, context);
}

bool CancelStart(PendingStart& pending) {
    const bool planned = pending.timer.Pending();
    pending.timer.Cancel();
    return planned;
}

std::uint64_t SecondsUntil(const PendingStart& pending, std::uint64_t nowMs) {
    return pending.dueMs > nowMs ? (pending.dueMs - nowMs + 999) / 1000 : 0;
}
