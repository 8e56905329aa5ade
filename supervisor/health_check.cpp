#include "supervisor/health_check.h"

#include <algorithm>

#include "loop/wait_table.h"
#include "port/containment.h"
#include "port/process.h"
#include "supervisor/containment.h"
#include "supervisor/http_get.h"
#include "supervisor/launch.h"
#include "supervisor/own_listener.h"
#include "supervisor/process_tree.h"

namespace {

void OnCheckDue(void* context);

std::uint64_t PeriodMs(const AppEntry& entry) {
    return std::uint64_t{entry.settings.readiness.health.everySeconds} * 1000u;
}

// Whatever a command started ends with its check. The shell led a session
// and process group of its own: the group ends in one step while the shell
// is not reaped yet (so its id cannot have been taken by another), where the
// system has no groups its tree is walked; with ContainProcesses the check's
// container ends what left both (setsid and the like).
void EndCommandProcesses(HealthWatch& watch, bool ended) {
    const std::uint32_t processId = port::ProcessIdOf(watch.command.Get());
    if (processId != 0 && !(ended && port::EndProcessGroup(processId)))
        KillProcessTree(processId);
    if (watch.container)
        port::EndContainer(watch.container.Get());
}

// Ends the check under way, if any: its timer, its row and what it holds.
void DropCheck(HealthWatch& watch) {
    watch.limit.Cancel();
    watch.probeRow.Remove();
    watch.probe.Reset();
    DropHttpGet(watch.get);
    if (watch.command) {
        watch.commandRow.Remove();
        EndCommandProcesses(watch, false);
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
    watch.next.Start(due > now ? due - now : 0, OnCheckDue, &entry);
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

void OnGetDone(AppEntry& entry, bool success) {
    bool heldByOther = false;
    Finish(entry,
           success && PortCounts(entry, entry.settings.readiness.health.url.address, &heldByOther));
}

void OnCommandEnded(WaitTable*, std::int32_t, void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    HealthWatch& watch = entry.health;
    watch.commandRow.Remove();
    port::ExitStatus status{};
    const bool healthy =
        port::ReadExitStatus(watch.command.Get(), &status) && !status.bySignal && status.value == 0;
    EndCommandProcesses(watch, true);
    watch.command.Reset(); // it has ended: closing reaps it
    Finish(entry, healthy);
}

void OnCheckLimit(void* context) {
    Finish(*static_cast<AppEntry*>(context), false);
}

// With ContainProcesses, the container of the entry's checks, made at the
// first command; null without (or when it cannot be made: the process
// group still ends with the check).
port::Handle CheckContainer(AppEntry& entry) {
    HealthWatch& watch = entry.health;
    if (!watch.container && ContainmentWanted(entry))
        watch.container.Reset(port::OpenContainer(
            port::CheckContainerName(entry.settings.name.c_str()).c_str(), true));
    return watch.container.Get();
}

// Runs the command as the application runs: as its user, in its directory,
// with the variables of its start.
bool StartCommand(AppEntry& entry) {
    HealthWatch& watch = entry.health;
    const AppSettings& settings = entry.settings;
    const std::optional<std::string> directory = LaunchDirectory(settings);
    const std::vector<std::string> variables = LaunchEnvironment(entry);
    const std::vector<const char*> environment = VariableList(variables);
    port::Handle process = port::kNullHandle;
    if (port::StartShellCommand(
            settings.readiness.health.command.c_str(), directory ? directory->c_str() : nullptr,
            &process, environment.size() == 1 ? nullptr : environment.data(), CheckContainer(entry),
            settings.user.empty() ? nullptr : settings.user.c_str()))
        watch.command.Reset(process);
    return watch.command && watch.commandRow.Add(watch.command.Get(), OnCommandEnded, &entry);
}

void OnCheckDue(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    HealthWatch& watch = entry.health;
    watch.startedMs = port::NowMs();
    const HealthCheck& check = entry.settings.readiness.health;
    bool started = false;
    if (check.kind == HealthCheck::Kind::Port) {
        watch.probe.Reset(port::BeginConnection(check.address.host.c_str(), check.address.port));
        started = watch.probe && watch.probeRow.Add(watch.probe.Get(), OnProbeDecided, &entry);
    } else if (check.kind == HealthCheck::Kind::Http) {
        // The GET has its own time limit, the period but at most kHttpLimitMostMs.
        if (!StartHttpGet(watch.get, entry, check.url,
                          static_cast<std::uint32_t>(
                              std::min<std::uint64_t>(PeriodMs(entry), kHttpLimitMostMs)),
                          OnGetDone))
            Finish(entry, false);
        return;
    } else {
        started = StartCommand(entry);
    }
    if (!started || !watch.limit.Start(PeriodMs(entry), OnCheckLimit, &entry))
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
    watch.next.Start(PeriodMs(entry), OnCheckDue, &entry);
}

void EndHealthChecks(AppEntry& entry) {
    HealthWatch& watch = entry.health;
    if (!watch.active)
        return;
    DropCheck(watch);
    // Removed once empty; one still emptying stays for the next checks.
    if (watch.container)
        port::RemoveContainer(watch.container.Release());
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
