#include "supervisor/readiness.h"

#include "console/console.h"
#include "loop/wait_table.h"
#include "port/process.h"
#include "supervisor/own_listener.h"

#include <algorithm>
#include <map>
#include <string_view>

NotifySocket notifySocket;

namespace {

void OnProbeDue(void* context);

void Report(AppEntry& entry, AppEvent event) {
    entry.readiness.report(entry, event);
}

void DropProbe(ReadinessWatch& watch) {
    RemoveWaitHandle(watch.probe.Get());
    watch.probe.Reset();
}

// A connection that was made counts only when the listener is the
// application's own: another user's must not make it ready.
void OnProbeDecided(WaitTable*, std::int32_t, void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    ReadinessWatch& watch = entry.readiness;
    const bool made = port::ConnectionMade(watch.probe.Get());
    DropProbe(watch);
    if (!made)
        return;
    const TcpAddress& address = entry.settings.readiness.ready.address;
    bool heldByOther = false;
    if (PortCounts(entry, address, &heldByOther)) {
        Report(entry, AppEvent::Ready);
    } else if (heldByOther && !watch.heldSaid) {
        watch.heldSaid = true;
        PrintMessage("Port %d is held by another process; %s is not ready.",
                     static_cast<int>(address.port), entry.settings.name.c_str());
    }
}

// A new attempt every kReadyProbeMs; one still undecided then is dropped.
void OnProbeDue(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    ReadinessWatch& watch = entry.readiness;
    watch.next = AddTimer(kReadyProbeMs, OnProbeDue, &entry);
    DropProbe(watch);
    const TcpAddress& address = entry.settings.readiness.ready.address;
    watch.probe.Reset(port::BeginConnection(address.host.c_str(), address.port));
    if (watch.probe && !AddWaitHandle(watch.probe.Get(), OnProbeDecided, &entry))
        watch.probe.Reset();
}

void OnDelayOver(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    entry.readiness.next = 0;
    Report(entry, AppEvent::Ready);
}

void OnReadyLimit(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    entry.readiness.limit = 0;
    Report(entry, AppEvent::ReadyTimedOut);
}

// True when `processId` is the root of the tree or below it: a descendant,
// or a member of the session the root leads.
bool InTree(std::uint32_t root, std::uint32_t processId) {
    if (processId == root)
        return true;
    port::UniqueProcessSnapshot snapshot(port::OpenProcessSnapshot());
    if (!snapshot)
        return false;
    std::map<std::uint32_t, std::uint32_t> parents;
    port::ProcessRecord record{};
    for (bool more = port::FirstProcess(snapshot.get(), &record); more;
         more = port::NextProcess(snapshot.get(), &record)) {
        if (record.processId == processId && record.sessionId == root)
            return true;
        parents[record.processId] = record.parentProcessId;
    }
    // At most one step per process listed, so that a loop of ids cannot hold it.
    std::uint32_t at = processId;
    for (std::size_t steps = 0; steps <= parents.size(); ++steps) {
        const auto parent = parents.find(at);
        if (parent == parents.end() || parent->second == 0)
            return false;
        if (parent->second == root)
            return true;
        at = parent->second;
    }
    return false;
}

AppEntry* SenderOf(std::uint32_t processId) {
    if (processId == 0)
        return nullptr;
    for (AppEntry* entry : notifySocket.entries)
        if (entry->process && entry->settings.readiness.ready.kind == ReadyRule::Kind::Notify &&
            InTree(port::ProcessIdOf(entry->process.Get()), processId))
            return entry;
    return nullptr;
}

// A message is lines of NAME=VALUE: READY=1 and STATUS=text are heeded.
void OnNotification(WaitTable*, std::int32_t, void*) {
    std::string text;
    std::uint32_t sender = 0;
    while (port::ReceiveNotification(notifySocket.socket.Get(), &text, &sender)) {
        AppEntry* entry = SenderOf(sender);
        if (entry == nullptr)
            continue;
        bool ready = false;
        std::string_view rest = text;
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find('\n'), rest.size());
            const std::string_view line = rest.substr(0, end);
            rest.remove_prefix(std::min(end + 1, rest.size()));
            if (line == "READY=1")
                ready = true;
            else if (line.substr(0, 7) == "STATUS=")
                entry->notifyStatus = std::string(line.substr(7));
        }
        if (ready && entry->state == AppState::Starting && entry->readiness.active)
            Report(*entry, AppEvent::Ready);
    }
}

} // namespace

void BeginReadinessWatch(AppEntry& entry, WatchReport report) {
    EndReadinessWatch(entry);
    ReadinessWatch& watch = entry.readiness;
    watch.active = true;
    watch.report = report;
    const ReadinessSettings& settings = entry.settings.readiness;
    if (settings.readyTimeoutSeconds > 0)
        watch.limit =
            AddTimer(std::uint64_t{settings.readyTimeoutSeconds} * 1000u, OnReadyLimit, &entry);
    switch (settings.ready.kind) {
    case ReadyRule::Kind::Port:
        watch.next = AddTimer(0, OnProbeDue, &entry);
        break;
    case ReadyRule::Kind::Delay:
        watch.next = AddTimer(settings.ready.delayMs, OnDelayOver, &entry);
        break;
    default: // the capture process or the notify socket tells
        break;
    }
}

void EndReadinessWatch(AppEntry& entry) {
    ReadinessWatch& watch = entry.readiness;
    if (!watch.active)
        return;
    CancelTimer(watch.limit);
    CancelTimer(watch.next);
    DropProbe(watch);
    watch = ReadinessWatch{};
}

void ForgetNotifyingEntry(const AppEntry& entry) {
    std::erase(notifySocket.entries, &entry);
}

std::string NotifySocketVariable(AppEntry& entry) {
    if (entry.settings.readiness.ready.kind != ReadyRule::Kind::Notify)
        return std::string();
    NotifySocket& notify = notifySocket;
    if (!notify.tried) {
        notify.tried = true;
        notify.socket.Reset(port::OpenNotifySocket(&notify.address));
        if (!notify.socket || !AddWaitHandle(notify.socket.Get(), OnNotification, nullptr)) {
            PrintMessage("Could not open the notify socket. Error: %d.",
                         static_cast<int>(port::LastError()));
            notify.socket.Reset();
        }
    }
    if (!notify.socket)
        return std::string();
    if (std::find(notify.entries.begin(), notify.entries.end(), &entry) == notify.entries.end())
        notify.entries.push_back(&entry);
    return "NOTIFY_SOCKET=" + notify.address;
}
