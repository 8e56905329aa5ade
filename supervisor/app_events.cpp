#include "supervisor/app_events.h"

#include "console/console.h"
#include "loop/event_loop.h"
#include "port/identity.h"
#include "supervisor/containment.h"
#include "supervisor/exit_report.h"
#include "supervisor/launch.h"
#include "supervisor/start_record.h"
#include "supervisor/stop.h"

#include <algorithm>

bool ShutdownUnderWay = false;

namespace {

AppFacts FactsOf(const AppEntry& entry, const ExitOutcome& exit) {
    AppFacts facts;
    facts.politeStop = entry.settings.stopTimeoutSeconds > 0;
    facts.startAfterStop = entry.stop.startAfter;
    facts.leftoversStop = entry.stop.leftovers;
    facts.stopUnderWay = entry.stop.active;
    facts.retryFailedStarts = entry.settings.restart.retryFailedStartsSeconds > 0;
    facts.plan = exit.plan;
    facts.awaitLeftovers = exit.awaitLeftovers;
    return facts;
}

void OnStopEvent(AppEntry& entry, AppEvent event) {
    Dispatch(entry, event);
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
    switch (Launch(entry, OnAppExit)) {
    case LaunchResult::Started:
        Dispatch(entry, AppEvent::Launched);
        return;
    case LaunchResult::Failed:
        Dispatch(entry, AppEvent::LaunchFailed);
        return;
    case LaunchResult::NotStarted:
        return;
    }
}

// Takes the step of the transition function and its actions.
void TakeStep(AppEntry& entry, AppEvent event, const ExitOutcome& exit) {
    const AppStep step = NextStep(entry.state, event, FactsOf(entry, exit));
    entry.state = step.next;
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
        else
            PrintMessage("Will not try to start %s again.", name);
    }
    if (actions & kSayTerminating)
        PrintMessage("Terminating process %s.", name);
    if ((actions & kAskTreeToEnd) && !BeginPoliteStop(entry, OnStopEvent)) {
        Dispatch(entry, AppEvent::EndNow); // it cannot wait: the tree ends at once
        return;
    }
    if ((actions & kAwaitLeftovers) && !AwaitLeftovers(entry, exit.leftovers, OnStopEvent)) {
        Dispatch(entry, AppEvent::TreeEnded); // it cannot wait: relaunched at once
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
    if (actions & kLaunch)
        StartProgram(entry);
}

} // namespace

void Dispatch(AppEntry& entry, AppEvent event, const ExitOutcome& exit) {
    TakeStep(entry, event, exit);
    // One that stays stopped lets go of its container once that is empty.
    RemoveEmptyContainer(entry);
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
    // A manager that ended in the middle of a stop left it frozen.
    if (port::ResumeIfStopped(port::ProcessIdOf(entry.process.Get())))
        PrintMessage("Resumed %s, which was left stopped.", entry.settings.name.c_str());
}

CopyRule RuleOf(const AppEntry& entry, const RecordedProcess* recorded) {
    CopyRule rule;
    rule.byCommandLine = entry.settings.attachByCommandLine;
    if (rule.byCommandLine)
        rule.arguments = port::SplitParameters(entry.settings.parameters.c_str());
    if (recorded != nullptr) {
        rule.recordedId = recorded->processId;
        rule.recordedStart = recorded->startTime;
    }
    return rule;
}

} // namespace

void TakeUnderSupervision(AppEntry& entry, AttachBatch& batch) {
    if (PathTooLong(entry))
        return;
    const RecordedProcess* recorded = RecordedProcessOf(entry.settings.name);
    port::UniqueHandle running;
    // What its container holds is its own, whatever the executable.
    if (ContainmentWanted(entry) && (running = FindContainedCopy(entry, recorded))) {
        entry.contained = true;
        AttachTo(entry, std::move(running));
        return;
    }
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
        return;
    case AttachResult::NotFound:
        StartProgram(entry);
        if (IsUp(entry))
            NoteStarted(batch, port::ProcessIdOf(entry.process.Get()), canonical);
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
    if (ShutdownUnderWay) {
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
