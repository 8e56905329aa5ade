#include "supervisor/app_events.h"

#include "console/command_table.h"
#include "console/console.h"
#include "loop/event_loop.h"
#include "supervisor/containment.h"
#include "supervisor/exit_report.h"
#include "supervisor/health_check.h"
#include "supervisor/launch.h"
#include "supervisor/memory_limit.h"
#include "supervisor/readiness.h"
#include "supervisor/stop.h"

#include <algorithm>
#include <utility>

namespace {

std::uint16_t FactsOf(const AppEntry& entry, AppEvent event, const ExitOutcome& exit) {
    const AppSettings& settings = entry.settings;
    std::uint16_t facts = 0;
    if (settings.stopTimeoutSeconds > 0)
        facts |= kPoliteStop;
    if (settings.restart.retryFailedStartsSeconds > 0)
        facts |= kRetryFailedStarts;
    if (settings.readiness.ready.kind != ReadyRule::Kind::Launched)
        facts |= kReadyRule;
    if (settings.readiness.health.kind != HealthCheck::Kind::None)
        facts |= kHealthChecks;
    // A start keeps the order when it was asked so, or it is the start that
    // waited for it.
    const bool inOrder =
        entry.orderedStart ||
        (event == AppEvent::TimerDue && entry.pendingStart.kind == PendingStart::Kind::Order);
    if (inOrder && !OrderMet(entry))
        facts |= kOrderUnmet;
    if (StaysDown(entry))
        facts |= kStaysDown;
    if (supervision.shutdown)
        facts |= kNoStarts;
    if (exit.plan == RestartPlan::Later)
        facts |= kPlanLater;
    if (exit.plan == RestartPlan::GiveUp)
        facts |= kPlanGiveUp;
    if (exit.awaitLeftovers)
        facts |= kLeftoversEnded;
    return facts;
}

void OnStopEvent(AppEntry& entry, AppEvent event) {
    Dispatch(entry, event);
}

// What a readiness watch or a health check found. Not ready in time counts
// as a quick exit.
void OnWatchEvent(AppEntry& entry, AppEvent event) {
    ExitOutcome exit;
    if (event == AppEvent::ReadyTimedOut && !StaysDown(entry)) {
        exit.endedMs = port::NowMs();
        exit.plan = PlanRestart(entry.settings.restart, entry.restartCount, 0);
    }
    Dispatch(entry, event, exit);
}

void OnStartDue(void* context) {
    Dispatch(*static_cast<AppEntry*>(context), AppEvent::TimerDue);
}

// Plans the entry's next start at `dueMs`; one that cannot be planned (no
// timer left) is due at once.
void PlanStartAt(AppEntry& entry, PendingStart::Kind kind, std::uint64_t dueMs) {
    if (!PlanStart(entry.pendingStart, kind, dueMs, OnStartDue, &entry))
        Dispatch(entry, AppEvent::TimerDue);
}

// Launches the program; the outcome is the next event.
void StartProgram(AppEntry& entry) {
    entry.orderedStart = false;
    entry.notifyStatus.clear();
    switch (Launch(entry, OnAppExit)) {
    case LaunchResult::Started:
        Dispatch(entry, AppEvent::Launched);
        return;
    case LaunchResult::Failed:
        FailCommand(); // when a command asked for the start
        Dispatch(entry, AppEvent::LaunchFailed);
        return;
    case LaunchResult::NotStarted:
        return;
    }
}

// "web waits for db, cache.": the applications it starts after that are not ready.
void SayWaits(const AppEntry& entry) {
    std::string names;
    for (const AppEntry* before : entry.after) {
        if (before->state == AppState::Running)
            continue;
        names += (names.empty() ? "" : ", ") + before->settings.name;
    }
    PrintMessage("%s waits for %s.", entry.settings.name.c_str(), names.c_str());
}

// The actions before a stop: plans forgotten, what is about to happen said.
void Announce(AppEntry& entry, std::uint32_t actions) {
    const char* name = entry.settings.name.c_str();
    if (actions & kForgetQuickExits)
        entry.restartCount = RestartCount{};
    if (actions & kCancelStart) {
        CancelStart(entry.pendingStart);
        entry.retryDelay = DoublingDelay{};
    }
    if (actions & kSayWillNotStart) {
        if (entry.pendingStart.kind == PendingStart::Kind::Relaunch)
            PrintMessage("Will not restart %s.", name);
        else if (entry.pendingStart.kind == PendingStart::Kind::Order)
            PrintMessage("Will not start %s.", name);
        else
            PrintMessage("Will not try to start %s again.", name);
    }
    if (actions & kSayNotReady)
        PrintMessage("%s did not become ready within %d s.", name,
                     static_cast<int>(entry.settings.readiness.readyTimeoutSeconds));
    if (actions & kSayUnhealthy)
        PrintMessage("%s failed %d health checks in a row; restarting it.", name,
                     static_cast<int>(entry.settings.readiness.healthFailures));
    if (actions & kSayTerminating)
        PrintMessage("Terminating process %s.", name);
}

// The stop's actions. One that cannot wait raises the event that ends it.
void StopActions(AppEntry& entry, std::uint32_t actions, const ExitOutcome& exit) {
    const char* name = entry.settings.name.c_str();
    if ((actions & kAskTreeToEnd) && !BeginPoliteStop(entry, OnStopEvent))
        Dispatch(entry, AppEvent::EndNow); // it cannot wait: the tree ends at once
    if ((actions & kAwaitLeftovers) && !AwaitLeftovers(entry, exit.leftovers, OnStopEvent))
        Dispatch(entry, AppEvent::TreeEnded); // it cannot wait: relaunched at once
    if (actions & kSayDidNotStop)
        PrintMessage("%s did not stop within %d s; ending its process tree.", name,
                     static_cast<int>(entry.settings.stopTimeoutSeconds));
    if (actions & kEndTree)
        EndTree(entry);
    if (actions & kSayStopped)
        PrintMessage("%s stopped.", name);
    if (actions & kFinishStop)
        FinishStop(entry);
    if (actions & kForgetProcess) {
        entry.processRow.Remove();
        entry.process.Reset();
    }
}

// The actions that plan what comes next.
void PlanActions(AppEntry& entry, std::uint32_t actions, const ExitOutcome& exit) {
    const char* name = entry.settings.name.c_str();
    if (actions & kPlanRetry) {
        const std::uint32_t seconds = NextRetrySeconds(entry.settings.restart, entry.retryDelay);
        PrintMessage("Will try to start %s again in %d s.", name, static_cast<int>(seconds));
        PlanStartAt(entry, PendingStart::Kind::Retry,
                    port::NowMs() + std::uint64_t{seconds} * 1000u);
    }
    if (actions & kPlanRelaunch) {
        const std::uint32_t seconds = entry.restartCount.pause.seconds;
        PrintMessage("Will restart %s in %d s.", name, static_cast<int>(seconds));
        PlanStartAt(entry, PendingStart::Kind::Relaunch,
                    exit.endedMs + std::uint64_t{seconds} * 1000u);
    }
    if (actions & kSayGivingUp)
        PrintMessage("Giving up on %s: it ended %d times in a row within %d s of starting.", name,
                     static_cast<int>(entry.restartCount.quickExits),
                     static_cast<int>(entry.settings.restart.minUptimeSeconds));
    if (actions & kAwaitOrder) {
        CancelStart(entry.pendingStart);
        entry.pendingStart.kind = PendingStart::Kind::Order;
        SayWaits(entry);
    }
}

// The actions of a start and of what a started application is watched for.
void StartActions(AppEntry& entry, std::uint32_t actions) {
    if (actions & kLaunch)
        StartProgram(entry);
    if (actions & kAwaitReady)
        BeginReadinessWatch(entry, OnWatchEvent);
    if (actions & kSayReady)
        PrintMessage("%s is ready.", entry.settings.name.c_str());
    if (actions & kStartChecks)
        BeginHealthChecks(entry, OnWatchEvent);
}

// Takes one event to the entry: the next state, then the step's actions in
// the order of their bits.
void Step(AppEntry& entry, AppEvent event, const ExitOutcome& exit) {
    if (event == AppEvent::StopAsked || event == AppEvent::Shutdown) {
        entry.orderedStart = false;
        std::erase(supervision.orderedStop.waiting, entry.serial); // its turn has come
    }
    const AppStep step = NextStep(entry.state, event, FactsOf(entry, event, exit));
    entry.state = step.next;
    // Readiness is watched only while it starts, health only while it runs.
    if (step.next != AppState::Starting)
        EndReadinessWatch(entry);
    if (step.next != AppState::Running)
        EndHealthChecks(entry);
    KeepMemoryWatch(entry, OnWatchEvent);
    Announce(entry, step.actions);
    StopActions(entry, step.actions, exit);
    PlanActions(entry, step.actions, exit);
    StartActions(entry, step.actions);
}

// The entry's state before its first change since the hooks last ran.
void NoteChange(AppEntry& entry, AppState before) {
    for (const auto& [changed, state] : supervision.changed)
        if (changed == &entry)
            return;
    supervision.changed.emplace_back(&entry, before);
}

} // namespace

bool StaysDown(const AppEntry& entry) {
    const std::vector<std::uint64_t>& waiting = supervision.orderedStop.waiting;
    return supervision.shutdown ||
           std::find(waiting.begin(), waiting.end(), entry.serial) != waiting.end();
}

void KeepWatchingMemory(AppEntry& entry) {
    KeepMemoryWatch(entry, OnWatchEvent);
}

void SetStateChangeHook(StateChangeHook hook, void* context) {
    supervision.onStateChange = hook;
    supervision.hookContext = context;
}

void SetSettledHook(SettledHook hook, void* context) {
    supervision.onSettled = hook;
    supervision.settledContext = context;
}

void Dispatch(AppEntry& entry, AppEvent event, const ExitOutcome& exit) {
    supervision.events.push_back(QueuedEvent{&entry, event, exit});
    if (supervision.dispatching)
        return; // handled after the event under way
    supervision.dispatching = true;
    for (;;) {
        while (!supervision.events.empty()) {
            const QueuedEvent next = std::move(supervision.events.front());
            supervision.events.pop_front();
            const AppState before = next.entry->state;
            const LogSubject subject(next.entry->serial);
            Step(*next.entry, next.event, next.exit);
            // One that stays stopped lets go of its container once that is empty.
            RemoveEmptyContainer(*next.entry);
            if (next.entry->state != before)
                NoteChange(*next.entry, before);
        }
        // What follows a change (the start order, readiness reports) looks
        // at states once every event has been handled; the events it raises
        // are handled next.
        if (supervision.changed.empty())
            break;
        const std::vector<std::pair<AppEntry*, AppState>> changed = std::move(supervision.changed);
        supervision.changed.clear();
        for (const auto& [changed_entry, before] : changed)
            if (changed_entry->state != before && supervision.onStateChange != nullptr)
                supervision.onStateChange(*changed_entry, before, supervision.hookContext);
    }
    supervision.dispatching = false;
    if (supervision.onSettled != nullptr)
        supervision.onSettled(supervision.settledContext);
}

void OnAppExit(WaitTable*, std::int32_t, void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    const LogSubject subject(entry.serial);
    entry.processRow.Remove();
    entry.lastExitKnown = port::ReadExitStatus(entry.process.Get(), &entry.lastExit);
    const RestartPolicy& policy = entry.settings.restart;
    if (policy.reportExits)
        ReportExit(entry.settings.name.c_str(), entry.lastExitKnown, entry.lastExit);
    ExitOutcome exit;
    // One that was asked to stop, or waits for its turn to, stays down.
    if (StaysDown(entry)) {
        Dispatch(entry, AppEvent::Exited, exit);
        return;
    }
    // The process was not yet ended when the loop last looked, about one
    // pause ago (or when it was started, if later): its run is counted to
    // then, and a pause before its relaunch from then.
    const std::uint64_t now = port::NowMs();
    exit.endedMs = std::max(entry.startedMs, now > kEventLoopPauseMs ? now - kEventLoopPauseMs : 0);
    exit.plan = PlanRestart(policy, entry.restartCount, exit.endedMs - entry.startedMs);
    // While the ended process is held, its id names it (and its group and
    // session) and no other.
    const std::uint32_t processId = port::ProcessIdOf(entry.process.Get());
    if (policy.endLeftovers && processId != 0) {
        exit.leftovers.root = processId;
        const std::size_t ended = entry.contained ? EndContainedLeftovers(entry)
                                                  : EndLeftovers(processId, &exit.leftovers);
        if (ended > 0) {
            PrintMessage("Ended %d leftover processes of %s.", static_cast<int>(ended),
                         entry.settings.name.c_str());
            exit.awaitLeftovers = exit.plan == RestartPlan::Now;
        }
    }
    Dispatch(entry, AppEvent::Exited, exit);
}
