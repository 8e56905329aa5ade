#include "loop/timers.h"

#include "port/system.h"

TimerList timerList = {};

namespace {

void RemoveAt(std::int32_t index) {
    for (std::int32_t i = index; i < timerList.count - 1; ++i)
        timerList.timers[i] = timerList.timers[i + 1];
    --timerList.count;
}

} // namespace

TimerId AddTimer(std::uint64_t delayMs, TimerCallback callback, void* context) {
    if (timerList.count >= kTimerListSize)
        return 0;
    const Timer timer{++timerList.lastId, port::NowMs() + delayMs, callback, context};
    // After every timer due no later: equal deadlines keep the order of adding.
    std::int32_t at = timerList.count;
    while (at > 0 && timerList.timers[at - 1].dueMs > timer.dueMs) {
        timerList.timers[at] = timerList.timers[at - 1];
        --at;
    }
    timerList.timers[at] = timer;
    ++timerList.count;
    return timer.id;
}

bool CancelTimer(TimerId id) {
    if (id == 0)
        return false;
    for (std::int32_t i = 0; i < timerList.count; ++i) {
        if (timerList.timers[i].id == id) {
            RemoveAt(i);
            return true;
        }
    }
    return false;
}

std::uint32_t TimerWaitLimitMs() {
    if (timerList.count == 0)
        return port::kWaitForever;
    const std::uint64_t now = port::NowMs();
    const std::uint64_t due = timerList.timers[0].dueMs;
    if (due <= now)
        return 0;
    const std::uint64_t left = due - now;
    return left >= port::kWaitForever ? port::kWaitForever - 1 : static_cast<std::uint32_t>(left);
}

bool TimerPending(TimerId id) {
    for (std::int32_t i = 0; id != 0 && i < timerList.count; ++i)
        if (timerList.timers[i].id == id)
            return true;
    return false;
}

void RunDueTimers() {
    if (timerList.count == 0)
        return;
    const std::uint64_t now = port::NowMs();
    // Timers added from here on have larger ids and wait for the next call.
    const TimerId newest = timerList.lastId;
    for (;;) {
        std::int32_t i = 0;
        while (i < timerList.count && timerList.timers[i].id > newest)
            ++i;
        if (i == timerList.count || timerList.timers[i].dueMs > now)
            return;
        const Timer due = timerList.timers[i];
        RemoveAt(i);
        due.callback(due.context);
    }
}
