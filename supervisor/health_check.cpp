#include "supervisor/health_check.h"

#include "loop/wait_table.h"
#include "port/process.h"
#include "supervisor/own_listener.h"
#include "supervisor/process_tree.h"

namespace {

void OnCheckDue(void* context);

std::uint64_t PeriodMs(const AppEntry& entry) {
    return std::uint64_t{entry.settings.readiness.health.everySeconds} * 1000u;
}

// Ends the check under way, if any: its timer, its row and what it holds.
void DropCheck(HealthWatch& watch) {
    CancelTimer(watch.limit);
    watch.limit = 0;
    RemoveWaitHandle(watch.probe.Get());
    watch.probe.Reset();
    if (watch.command) {
        RemoveWaitHandle(watch.command.Get());
        const std::uint32_t processId = port::ProcessIdOf(watch.command.Get());
        if (processId != 0)
            KillProcessTree(processId);
        watch.command.Reset(); // reaped once it has ended
    }
}

// The check's outcome: the next one is due a period after this one began.
void Finish(AppEntry& entry, bool healthy) {
    HealthWatch& watch = entry.health;
    DropCheck(watch);
    watch.health = healthy ? Health::Healthy : Health::Unhealthy;
    watch.failures = healthy ? 0 : watch.failures + 1;
    const std::uint64_t due = watch.startedMs + PeriodMs(entry);
    const std::uint64_t now = port::NowMs();
    watch.next = AddTimer(due > now ? due - now : 0, OnCheckDue, &entry);
    if (watch.failures >= entry.settings.readiness.healthFailures)
        watch.report(entry, AppEvent::HealthFailed);
}

// A connection that was made is healthy only when the listener is the
// application's own.
void OnProbeDecided(WaitTable*, std::int32_t, void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    bool heldByOther = false;
    Finish(entry, port::ConnectionMade(entry.health.probe.Get()) &&
                      PortCounts(entry, entry.settings.readiness.health.address, &heldByOther));
}

void OnCommandEnded(WaitTable*, std::int32_t, void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    HealthWatch& watch = entry.health;
    RemoveWaitHandle(watch.command.Get());
    port::ExitStatus status{};
    const bool healthy =
        port::ReadExitStatus(watch.command.Get(), &status) && !status.bySignal && status.value == 0;
    watch.command.Reset(); // it has ended: closing reaps it
    Finish(entry, healthy);
}

void OnCheckLimit(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    entry.health.limit = 0;
    Finish(entry, false);
}

// The directory a command runs in: the application's own.
std::string CommandDirectory(const AppSettings& settings) {
    if (!settings.directory.empty())
        return settings.directory;
    const std::string::size_type cut = settings.path.rfind(port::kPathSeparator);
    return cut == std::string::npos ? std::string() : settings.path.substr(0, cut);
}

void OnCheckDue(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    HealthWatch& watch = entry.health;
    watch.next = 0;
    watch.startedMs = port::NowMs();
    const HealthCheck& check = entry.settings.readiness.health;
    bool started = false;
    if (check.kind == HealthCheck::Kind::Port) {
        watch.probe.Reset(port::BeginConnection(check.address.host.c_str(), check.address.port));
        started = watch.probe && AddWaitHandle(watch.probe.Get(), OnProbeDecided, &entry);
    } else {
        const std::string directory = CommandDirectory(entry.settings);
        port::Handle process = port::kNullHandle;
        if (port::StartShellCommand(check.command.c_str(),
                                    directory.empty() ? nullptr : directory.c_str(), &process))
            watch.command.Reset(process);
        started = watch.command && AddWaitHandle(watch.command.Get(), OnCommandEnded, &entry);
    }
    if (started)
        watch.limit = AddTimer(PeriodMs(entry), OnCheckLimit, &entry);
    if (!started || watch.limit == 0)
        Finish(entry, false);
}

} // namespace

void BeginHealthChecks(AppEntry& entry, WatchReport report) {
    EndHealthChecks(entry);
    if (entry.settings.readiness.health.kind == HealthCheck::Kind::None)
        return;
    HealthWatch& watch = entry.health;
    watch.active = true;
    watch.report = report;
    watch.next = AddTimer(PeriodMs(entry), OnCheckDue, &entry);
}

void EndHealthChecks(AppEntry& entry) {
    HealthWatch& watch = entry.health;
    if (!watch.active)
        return;
    DropCheck(watch);
    CancelTimer(watch.next);
    watch = HealthWatch{};
}

const char* HealthWord(const AppEntry& entry) {
    switch (entry.health.health) {
    case Health::Healthy:
        return "healthy";
    case Health::Unhealthy:
        return "unhealthy";
    case Health::Unknown:
        break;
    }
    return "-";
}
