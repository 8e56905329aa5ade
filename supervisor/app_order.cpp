#include "supervisor/app_order.h"

#include "supervisor/app_events.h"
#include "supervisor/app_table.h"
#include "supervisor/start_order.h"
#include "supervisor/supervision.h"

#include <algorithm>

namespace {

int IndexOf(const AppEntry* entry) {
    for (int i = 0; i < appTable.count; ++i)
        if (appTable.entries[i] == entry)
            return i;
    return -1;
}

// The order as the entries hold it, by table index.
StartOrder TableOrder() {
    StartOrder order;
    order.after.resize(static_cast<std::size_t>(appTable.count));
    for (int i = 0; i < appTable.count; ++i)
        for (const AppEntry* before : appTable.entries[i]->after)
            order.after[static_cast<std::size_t>(i)].push_back(IndexOf(before));
    return order;
}

bool Waits(const AppEntry& entry) {
    const std::vector<std::uint64_t>& waiting = supervision.orderedStop.waiting;
    return std::find(waiting.begin(), waiting.end(), entry.serial) != waiting.end();
}

bool IsDown(const AppEntry& entry) {
    return !IsUp(entry) && !IsStopping(entry.state) && !Waits(entry);
}

std::vector<bool> DownApplications() {
    std::vector<bool> down;
    for (int i = 0; i < appTable.count; ++i)
        down.push_back(IsDown(*appTable.entries[i]));
    return down;
}

// Nothing will start it without an operator: stopped, gave up, or waiting
// for an application that is down for good.
bool DownForGood(const AppEntry& entry, int depth) {
    if (entry.state == AppState::Stopped || entry.state == AppState::GaveUp ||
        entry.state == AppState::Failed || IsRemoved(entry.state))
        return true;
    if (depth > kMaxApplications || entry.state != AppState::Waiting ||
        entry.pendingStart.kind != PendingStart::Kind::Order)
        return false;
    for (const AppEntry* before : entry.after)
        if (before->state != AppState::Running && DownForGood(*before, depth + 1))
            return true;
    return false;
}

// Asks the waiting stops whose dependents are all down now, last in the
// start sequence first.
void AskWaitingStops() {
    const StartOrder order = TableOrder();
    const std::vector<AppEntry*> sequence = StartSequence();
    for (auto it = sequence.rbegin(); it != sequence.rend(); ++it) {
        AppEntry& entry = **it;
        if (!Waits(entry) || !MayStop(order, IndexOf(&entry), DownApplications()))
            continue;
        std::erase(supervision.orderedStop.waiting, entry.serial);
        Dispatch(entry, supervision.orderedStop.event);
    }
}

bool Restarts(const AppEntry& entry) {
    const std::vector<std::uint64_t>& restarting = supervision.orderedStop.restarting;
    return std::find(restarting.begin(), restarting.end(), entry.serial) != restarting.end();
}

// Once an ordered restart's last stop has ended: what it stopped starts, in
// start order, each once what it starts after is ready.
void StartRestartedOnceStopped() {
    OrderedStop& stop = supervision.orderedStop;
    if (stop.restarting.empty() || !stop.waiting.empty())
        return;
    // One whose turn came may not have taken its stop yet: it is still up.
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        if (Restarts(entry) && (IsUp(entry) || IsStopping(entry.state)))
            return;
    }
    const std::vector<AppEntry*> sequence = StartSequence();
    std::vector<AppEntry*> starting;
    for (AppEntry* entry : sequence)
        if (Restarts(*entry))
            starting.push_back(entry);
    stop.restarting.clear();
    for (AppEntry* entry : starting)
        if (!IsUp(*entry))
            DispatchInOrder(*entry, AppEvent::StartAsked);
}

} // namespace

std::vector<std::pair<std::string, std::string>> ResolveApplicationOrder() {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> after;
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        const bool removed = IsRemoved(entry.state);
        names.push_back(removed ? std::string() : entry.settings.name);
        after.push_back(removed ? std::vector<std::string>() : entry.settings.readiness.after);
    }
    const StartOrder order = ResolveStartOrder(names, after);
    std::vector<std::pair<std::string, std::string>> ignored;
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry& entry = *appTable.entries[i];
        entry.after.clear();
        for (int before : order.after[static_cast<std::size_t>(i)])
            entry.after.push_back(appTable.entries[before]);
        if (!order.ignored[static_cast<std::size_t>(i)].empty())
            ignored.emplace_back(entry.settings.name, order.ignored[static_cast<std::size_t>(i)]);
    }
    return ignored;
}

bool AnyStartOrder() {
    for (int i = 0; i < appTable.count; ++i)
        if (!appTable.entries[i]->after.empty())
            return true;
    return false;
}

std::vector<AppEntry*> StartSequence() {
    StartOrder order = TableOrder();
    // The entries' order has no cycle: resolving it again, with the indexes
    // as names, only sorts it.
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> after;
    for (int i = 0; i < appTable.count; ++i) {
        names.push_back(std::to_string(i));
        after.emplace_back();
        for (int before : order.after[static_cast<std::size_t>(i)])
            after.back().push_back(std::to_string(before));
    }
    std::vector<AppEntry*> sequence;
    for (int i : ResolveStartOrder(names, after).sequence)
        if (!IsRemoved(appTable.entries[i]->state))
            sequence.push_back(appTable.entries[i]);
    return sequence;
}

void DispatchInOrder(AppEntry& entry, AppEvent event) {
    entry.orderedStart = true;
    Dispatch(entry, event);
}

void DispatchAtOnce(AppEntry& entry, AppEvent event) {
    entry.orderedStart = false;
    Dispatch(entry, event);
}

void StopInOrder(AppEvent event) {
    // Every application that runs waits for its turn; the others (stopped,
    // waiting, removed with a stop under way) take the event at once.
    OrderedStop& stop = supervision.orderedStop;
    stop.event = event;
    stop.waiting.clear();
    stop.restarting.clear();
    for (int i = 0; i < appTable.count; ++i)
        if (IsUp(*appTable.entries[i]))
            stop.waiting.push_back(appTable.entries[i]->serial);
    for (int i = 0; i < appTable.count; ++i)
        if (!Waits(*appTable.entries[i]))
            Dispatch(*appTable.entries[i], event);
    AskWaitingStops();
}

void RestartInOrder() {
    StopInOrder(AppEvent::StopAsked);
    for (int i = 0; i < appTable.count; ++i)
        if (!IsRemoved(appTable.entries[i]->state))
            supervision.orderedStop.restarting.push_back(appTable.entries[i]->serial);
    StartRestartedOnceStopped();
}

bool WaitsInVain(const AppEntry& entry) {
    return entry.state == AppState::Waiting &&
           entry.pendingStart.kind == PendingStart::Kind::Order && DownForGood(entry, 0);
}

bool InOrderedOperation(const AppEntry& entry) {
    return Waits(entry) || Restarts(entry);
}

void StartWaitingInOrder() {
    for (AppEntry* entry : StartSequence()) {
        if (entry->state != AppState::Waiting ||
            entry->pendingStart.kind != PendingStart::Kind::Order ||
            entry->pendingStart.timer.Pending())
            continue;
        if (OrderMet(*entry))
            Dispatch(*entry, AppEvent::TimerDue);
    }
}

void ContinueOrder(AppEntry& entry, AppState before) {
    // Without a start order nothing waits for a start: the relaunch path
    // stays as short as it is without [After].
    if (entry.state == AppState::Running && AnyStartOrder())
        StartWaitingInOrder();
    if ((IsStopping(before) || !IsUp(entry)) && AnyWaitingStop())
        AskWaitingStops();
    StartRestartedOnceStopped();
}

bool StartUpSettled() {
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        if (entry.state == AppState::Starting)
            return false;
        if (entry.state == AppState::Waiting &&
            entry.pendingStart.kind == PendingStart::Kind::Order && !DownForGood(entry, 0))
            return false;
    }
    return true;
}

bool AnyWaitingStop() {
    return !supervision.orderedStop.waiting.empty();
}

void ReleaseWaitingStops() {
    OrderedStop& stop = supervision.orderedStop;
    const std::vector<std::uint64_t> waiting = std::move(stop.waiting);
    stop.waiting.clear();
    stop.restarting.clear();
    if (stop.event != AppEvent::Shutdown)
        return;
    for (int i = 0; i < appTable.count; ++i)
        if (std::find(waiting.begin(), waiting.end(), appTable.entries[i]->serial) != waiting.end())
            Dispatch(*appTable.entries[i], AppEvent::Shutdown);
}
