#include "supervisor/app_events.h"

#include "console/command_table.h"
#include "console/console.h"
#include "loop/event_loop.h"
#include "port/identity.h"
#include "port/user.h"
#include "supervisor/containment.h"
#include "supervisor/exit_report.h"
#include "supervisor/health_check.h"
#include "supervisor/launch.h"
#include "supervisor/readiness.h"
#include "supervisor/start_record.h"
#include "supervisor/stop.h"

#include <algorithm>

bool ShutdownUnderWay = false;

namespace {

StateChangeHook stateChangeHook = nullptr;

AppFacts FactsOf(const AppEntry& entry, const ExitOutcome& exit) {
    AppFacts facts;
    facts.politeStop = entry.settings.stopTimeoutSeconds > 0;
    facts.startAfterStop = entry.stop.startAfter;
    facts.leftoversStop = entry.stop.leftovers;
    facts.stopUnderWay = entry.stop.active;
    facts.retryFailedStarts = entry.settings.restart.retryFailedStartsSeconds > 0;
    facts.failedStart = entry.lastStartFailed;
    const ReadinessSettings& readiness = entry.settings.readiness;
    facts.readyRule = readiness.ready.kind != ReadyRule::Kind::Launched;
    facts.healthChecks = readiness.health.kind != HealthCheck::Kind::None;
    facts.orderUnmet = entry.orderedStart && !OrderMet(entry);
    facts.plan = exit.plan;
    facts.awaitLeftovers = exit.awaitLeftovers;
    return facts;
}

void OnStopEvent(AppEntry& entry, AppEvent event) {
    Dispatch(entry, event);
}

// What a readiness watch or a health check found. Not ready in time counts
// as a quick exit.
void OnWatchEvent(AppEntry& entry, AppEvent event) {
    // One that waits for its turn to stop, or the end of every application,
    // is not started again.
    const bool staysDown = ShutdownUnderWay || entry.deferredStop != AppEntry::DeferredStop::None;
    if (event == AppEvent::HealthFailed && staysDown)
        return;
    ExitOutcome exit;
    if (event == AppEvent::ReadyTimedOut) {
        exit.endedMs = port::NowMs();
        exit.plan = staysDown ? RestartPlan::Stay
                              : PlanRestart(entry.settings.restart, entry.restartCount, 0);
    }
    Dispatch(entry, event, exit);
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

void OnStartDue(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    entry.pendingStart.timer = 0;
    Dispatch(entry, AppEvent::TimerDue);
}

// Plans the entry's next start at `dueMs`; a start that cannot be planned
// (no timer left) leaves it stopped.
void PlanStartAt(AppEntry& entry, PendingStart::Kind kind, std::uint64_t dueMs) {
    if (!PlanStart(entry.pendingStart, kind, dueMs, OnStartDue, &entry))
        entry.state = AppState::Stopped;
}

void StartProgram(AppEntry& entry) {
    if (ShutdownUnderWay)
        return;
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

// Takes the event to the entry; the state change is followed by the caller.
void Step(AppEntry& entry, AppEvent event, const ExitOutcome& exit) {
    if (event == AppEvent::StopAsked || event == AppEvent::Shutdown) {
        entry.deferredStop = AppEntry::DeferredStop::None; // its turn has come
        entry.orderedStart = false;
    }
    const AppStep step = NextStep(entry.state, event, FactsOf(entry, exit));
    if (event == AppEvent::LaunchFailed || event == AppEvent::Launched ||
        event == AppEvent::StopAsked)
        entry.lastStartFailed = event == AppEvent::LaunchFailed;
    entry.state = step.next;
    // Readiness is watched only while it starts, health only while it runs.
    if (step.next != AppState::Starting)
        EndReadinessWatch(entry);
    if (step.next != AppState::Running)
        EndHealthChecks(entry);
    if (step.next == AppState::Stopping || step.next == AppState::Removed)
        entry.stop.startAfter = step.startAfterStop;
    const std::uint32_t actions = step.actions;
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
    if ((actions & kAskTreeToEnd) && !BeginPoliteStop(entry, OnStopEvent)) {
        Step(entry, AppEvent::EndNow, ExitOutcome{}); // it cannot wait: the tree ends at once
        return;
    }
    if ((actions & kAwaitLeftovers) && !AwaitLeftovers(entry, exit.leftovers, OnStopEvent)) {
        Step(entry, AppEvent::TreeEnded, ExitOutcome{}); // it cannot wait: relaunched at once
        return;
    }
    if (actions & kSayDidNotStop)
        PrintMessage("%s did not stop within %d s; ending its process tree.", name,
                     static_cast<int>(entry.settings.stopTimeoutSeconds));
    if (actions & kEndTree)
        EndTree(entry);
    if (actions & kSayStopped)
        PrintMessage("%s stopped.", name);
    if (actions & kFinishStop)
        FinishStop(entry);
    if (actions & kForgetProcess)
        entry.process.Reset();
    if (actions & kPlanRetry) {
        const std::uint32_t seconds = NextRetrySeconds(entry.settings.restart, entry.retryDelay);
        PlanStartAt(entry, PendingStart::Kind::Retry,
                    port::NowMs() + std::uint64_t{seconds} * 1000u);
        PrintMessage("Will try to start %s again in %d s.", name, static_cast<int>(seconds));
    }
    if (actions & kPlanRelaunch) {
        const std::uint32_t seconds = entry.restartCount.pause.seconds;
        PlanStartAt(entry, PendingStart::Kind::Relaunch,
                    exit.endedMs + std::uint64_t{seconds} * 1000u);
        PrintMessage("Will restart %s in %d s.", name, static_cast<int>(seconds));
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
    if (actions & kLaunch)
        StartProgram(entry);
    if (actions & kAwaitReady)
        BeginReadinessWatch(entry, OnWatchEvent);
    if (actions & kSayReady)
        PrintMessage("%s is ready.", name);
    if (actions & kStartChecks)
        BeginHealthChecks(entry, OnWatchEvent);
}

} // namespace

void SetStateChangeHook(StateChangeHook hook) {
    stateChangeHook = hook;
}

void Dispatch(AppEntry& entry, AppEvent event, const ExitOutcome& exit) {
    const AppState before = entry.state;
    Step(entry, event, exit);
    // One that stays stopped lets go of its container once that is empty.
    RemoveEmptyContainer(entry);
    if (entry.state != before && stateChangeHook != nullptr)
        stateChangeHook(entry, before);
}

namespace {

// Supervises a copy found running: "%s already running, attached!".
void AttachTo(AppEntry& entry, port::UniqueHandle running) {
    if (!Supervise(entry, std::move(running), OnAppExit))
        return;
    // The copy found ran before the manager took it over.
    const std::uint64_t age = port::ProcessAgeMs(entry.process.Get());
    entry.startedMs -= std::min(age, entry.startedMs);
    PrintMessage("%s already running, attached!", entry.settings.name.c_str());
    Dispatch(entry, AppEvent::Launched);
    // A copy found running is ready at once, whatever its rule.
    if (entry.state == AppState::Starting)
        Dispatch(entry, AppEvent::Ready);
    // A manager that ended in the middle of a stop left it frozen.
    if (port::ResumeIfStopped(port::ProcessIdOf(entry.process.Get())))
        PrintMessage("Resumed %s, which was left stopped.", entry.settings.name.c_str());
}

// The process the entry holds now is taken for the rest of the batch.
void NoteTaken(AttachBatch& batch, const AppEntry& entry) {
    if (!entry.process)
        return;
    batch.taken.push_back(port::ProcessIdOf(entry.process.Get()));
    if (entry.contained)
        batch.reserved.push_back(batch.taken.back());
}

// Attaches to what the entry's own container holds, whatever the
// executable. False when it holds nothing the entry may take.
bool AttachToContainedCopy(AppEntry& entry, AttachBatch& batch) {
    if (entry.process || entry.settings.path.size() > kMaxPathLength || !ContainmentWanted(entry))
        return false;
    port::UniqueHandle running =
        FindContainedCopy(entry, RecordedProcessOf(entry.settings.name, entry.place), batch.taken);
    if (!running)
        return false;
    entry.contained = true;
    AttachTo(entry, std::move(running));
    NoteTaken(batch, entry);
    return true;
}

CopyRule RuleOf(const AppEntry& entry, const RecordedProcess* recorded) {
    CopyRule rule;
    rule.byCommandLine = entry.settings.attachByCommandLine;
    if (rule.byCommandLine)
        rule.arguments = port::SplitParameters(entry.settings.parameters.c_str());
    rule.byUser = !entry.settings.user.empty();
    if (rule.byUser)
        rule.userUnknown = !port::UserIdByName(entry.settings.user.c_str(), &rule.userId);
    if (recorded != nullptr) {
        rule.recordedId = recorded->processId;
        rule.recordedStart = recorded->startTime;
    }
    return rule;
}

} // namespace

void ClaimContainedCopies(const std::vector<AppEntry*>& entries, AttachBatch& batch) {
    for (AppEntry* entry : entries)
        AttachToContainedCopy(*entry, batch);
}

void TakeUnderSupervision(AppEntry& entry, AttachBatch& batch) {
    // Claimed already through its container.
    if (entry.process)
        return;
    if (PathTooLong(entry) || AttachToContainedCopy(entry, batch))
        return;
    const RecordedProcess* recorded = RecordedProcessOf(entry.settings.name, entry.place);
    port::UniqueHandle running;
    entry.contained = false;
    std::string canonical;
    switch (FindRunningCopy(entry.settings.path, RuleOf(entry, recorded), batch, &running,
                            &canonical)) {
    case AttachResult::NoPath:
        // A start that fails before it could look for a running copy (the
        // executable is not there yet) is tried again like any failed start.
        PrintMessage("Could not get FileShortName!");
        Dispatch(entry, AppEvent::LaunchFailed);
        return;
    case AttachResult::NoList:
        PrintMessage("Could not get process list!");
        Dispatch(entry, AppEvent::LaunchFailed);
        return;
    case AttachResult::Found:
        AttachTo(entry, std::move(running));
        NoteTaken(batch, entry);
        return;
    case AttachResult::NotFound:
        // One that keeps the start order may have to wait for it.
        if (entry.orderedStart)
            Dispatch(entry, AppEvent::StartAsked);
        else
            StartProgram(entry);
        if (IsUp(entry))
            NoteStarted(batch, port::ProcessIdOf(entry.process.Get()), canonical);
        NoteTaken(batch, entry);
        return;
    }
}

void OnAppExit(WaitTable*, std::int32_t, void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    RemoveWaitHandle(entry.process.Get());
    entry.lastExitKnown = port::ReadExitStatus(entry.process.Get(), &entry.lastExit);
    const RestartPolicy& policy = entry.settings.restart;
    if (policy.reportExits)
        ReportExit(entry.settings.name.c_str(), entry.lastExitKnown, entry.lastExit);
    ExitOutcome exit;
    // One that was asked to stop, or waits for its turn to, stays down.
    if (ShutdownUnderWay || entry.deferredStop != AppEntry::DeferredStop::None) {
        exit.plan = RestartPlan::Stay;
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
