#include "supervisor/readiness.h"

#include "console/console.h"
#include "loop/wait_table.h"
#include "port/process.h"
#include "supervisor/app_table.h"
#include "supervisor/http_get.h"
#include "supervisor/own_listener.h"
#include "supervisor/process_tree.h"
#include "supervisor/supervision.h"

#include <algorithm>
#include <string_view>

namespace {

void OnProbeDue(void* context);

void Report(AppEntry& entry, AppEvent event) {
    entry.readiness.report(entry, event);
}

void DropProbe(ReadinessWatch& watch) {
    watch.probeRow.Remove();
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
    watch.next.Start(kReadyProbeMs, OnProbeDue, &entry);
    DropProbe(watch);
    const TcpAddress& address = entry.settings.readiness.ready.address;
    watch.probe.Reset(port::BeginConnection(address.host.c_str(), address.port));
    if (watch.probe && !watch.probeRow.Add(watch.probe.Get(), OnProbeDecided, &entry))
        watch.probe.Reset();
}

void OnHttpDue(void* context);

// An answer counts only from the application's own listener, as a port does.
void OnReadyGetDone(AppEntry& entry, bool success) {
    ReadinessWatch& watch = entry.readiness;
    const TcpAddress& address = entry.settings.readiness.ready.url.address;
    bool heldByOther = false;
    if (success && PortCounts(entry, address, &heldByOther)) {
        Report(entry, AppEvent::Ready);
        return;
    }
    if (heldByOther && !watch.heldSaid) {
        watch.heldSaid = true;
        PrintMessage("Port %d is held by another process; %s is not ready.",
                     static_cast<int>(address.port), entry.settings.name.c_str());
    }
    const std::uint64_t due = watch.getStartedMs + kReadyHttpMs;
    const std::uint64_t now = port::NowMs();
    watch.next.Start(due > now ? due - now : 0, OnHttpDue, &entry);
}

// One GET at a time, a new one kReadyHttpMs after the last began (or as
// soon as it was decided, when that took longer).
void OnHttpDue(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    ReadinessWatch& watch = entry.readiness;
    watch.getStartedMs = port::NowMs();
    if (!StartHttpGet(watch.get, entry, entry.settings.readiness.ready.url, kHttpLimitMostMs,
                      OnReadyGetDone))
        watch.next.Start(kReadyHttpMs, OnHttpDue, &entry);
}

void OnDelayOver(void* context) {
    Report(*static_cast<AppEntry*>(context), AppEvent::Ready);
}

void OnReadyLimit(void* context) {
    Report(*static_cast<AppEntry*>(context), AppEvent::ReadyTimedOut);
}

// The application whose tree `processId` belongs to (InTree), among those
// that wait for a notification; the process list is read once, and only
// when the sender is not an application's own process.
AppEntry* SenderOf(std::uint32_t processId) {
    if (processId == 0)
        return nullptr;
    ProcessList list;
    bool read = false;
    bool listed = false;
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry* entry = appTable.entries[i];
        if (!entry->process || entry->settings.readiness.ready.kind != ReadyRule::Kind::Notify)
            continue;
        const std::uint32_t root = port::ProcessIdOf(entry->process.Get());
        if (processId == root)
            return entry;
        if (!read) {
            listed = ReadProcessList(&list, false);
            read = true;
        }
        if (listed && InTree(list, root, processId))
            return entry;
    }
    return nullptr;
}

// A message is lines of NAME=VALUE: READY=1 and STATUS=text are heeded.
void OnNotification(WaitTable*, std::int32_t, void* context) {
    const NotifySocket& notify = *static_cast<const NotifySocket*>(context);
    std::string text;
    std::uint32_t sender = 0;
    while (port::ReceiveNotification(notify.socket.Get(), &text, &sender)) {
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
        watch.limit.Start(std::uint64_t{settings.readyTimeoutSeconds} * 1000u, OnReadyLimit,
                          &entry);
    switch (settings.ready.kind) {
    case ReadyRule::Kind::Port:
        watch.next.Start(0, OnProbeDue, &entry);
        break;
    case ReadyRule::Kind::Http:
        watch.next.Start(0, OnHttpDue, &entry);
        break;
    case ReadyRule::Kind::Delay:
        watch.next.Start(settings.ready.delayMs, OnDelayOver, &entry);
        break;
    default: // the capture process or the notify socket tells
        break;
    }
}

void EndReadinessWatch(AppEntry& entry) {
    // What the watch registered ends with it.
    entry.readiness = ReadinessWatch{};
}

std::string NotifySocketVariable(NotifySocket& notify, const AppEntry& entry) {
    if (entry.settings.readiness.ready.kind != ReadyRule::Kind::Notify)
        return std::string();
    if (!notify.tried) {
        notify.tried = true;
        notify.socket.Reset(port::OpenNotifySocket(&notify.address));
        if (!notify.socket || !notify.row.Add(notify.socket.Get(), OnNotification, &notify)) {
            PrintMessage("Could not open the notify socket. Error: %d.",
                         static_cast<int>(port::LastError()));
            notify.socket.Reset();
        }
    }
    if (!notify.socket)
        return std::string();
    return "NOTIFY_SOCKET=" + notify.address;
}
