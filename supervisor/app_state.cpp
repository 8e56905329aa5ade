#include "supervisor/app_state.h"

namespace {

// "stop" of an application that runs: asked first with a stop limit, else
// ended at once.
AppStep Stop(const AppFacts& f, AppState after) {
    if (f.politeStop)
        return {after == AppState::Stopped ? AppState::Stopping : after,
                kSayTerminating | kAskTreeToEnd, false};
    return {after, kSayTerminating | kEndTree, false};
}

// A start that keeps the start order: at once, or once what it starts after
// is ready.
AppStep StartOrWait(const AppFacts& f, std::uint32_t actions) {
    if (f.orderUnmet)
        return {AppState::Waiting, actions | kAwaitOrder, false};
    return {AppState::Stopped, actions | kLaunch, false};
}

// "restart" of an application that runs: started again once its tree has
// ended, at once when the stop ends it at once.
AppStep Restart(const AppFacts& f) {
    if (f.politeStop)
        return {AppState::Stopping, kForgetQuickExits | kSayTerminating | kAskTreeToEnd, true};
    return StartOrWait(f, kForgetQuickExits | kSayTerminating | kEndTree);
}

// An operator's start of one that does not run: a planned start and the
// quick exits counted so far are forgotten.
AppStep OperatorStart(const AppFacts& f) {
    return StartOrWait(f, kForgetQuickExits | kCancelStart);
}

// The end of a stop under way: at its time limit (`limit`), or once its tree
// has ended. A stop that waited for the leftovers of an exit (which were
// ended already) says nothing and ends nothing more.
AppStep EndOfStop(const AppFacts& f, bool limit, AppState after) {
    std::uint32_t actions = kFinishStop;
    if (!f.leftoversStop)
        actions |= limit ? kSayDidNotStop | kEndTree : kSayStopped;
    if (f.startAfterStop && after == AppState::Stopped)
        return StartOrWait(f, actions);
    return {after, actions, false};
}

AppStep AfterExit(const AppFacts& f) {
    if (f.plan == RestartPlan::Stay)
        return {AppState::Stopped, kForgetProcess, false};
    if (f.awaitLeftovers)
        return {AppState::Stopping, kAwaitLeftovers, true};
    switch (f.plan) {
    case RestartPlan::Later:
        return {AppState::Waiting, kForgetProcess | kPlanRelaunch, false};
    case RestartPlan::GiveUp:
        return {AppState::GaveUp, kForgetProcess | kSayGivingUp, false};
    default:
        return {AppState::Stopped, kForgetProcess | kLaunch, false};
    }
}

// Not ready in time: its tree is ended, and the start counts as a quick exit.
AppStep AfterReadyTimeout(const AppFacts& f) {
    const std::uint32_t actions = kSayNotReady | kEndTree;
    switch (f.plan) {
    case RestartPlan::Later:
        return {AppState::Waiting, actions | kPlanRelaunch, false};
    case RestartPlan::GiveUp:
        return {AppState::GaveUp, actions | kSayGivingUp, false};
    case RestartPlan::Stay:
        return {AppState::Stopped, actions, false};
    default:
        return {AppState::Stopped, actions | kLaunch, false};
    }
}

AppStep FromStopped(AppEvent event, const AppFacts& f) {
    switch (event) {
    case AppEvent::Launched:
        if (f.readyRule)
            return {AppState::Starting, kAwaitReady, false};
        return {AppState::Running, f.healthChecks ? kStartChecks : kNoAction, false};
    case AppEvent::LaunchFailed:
        return f.retryFailedStarts ? AppStep{AppState::Waiting, kPlanRetry, false}
                                   : AppStep{AppState::Stopped, kNoAction, false};
    case AppEvent::StartAsked:
    case AppEvent::RestartAsked:
        return OperatorStart(f);
    case AppEvent::ReloadRemoved:
        return {AppState::Removed, kNoAction, false};
    case AppEvent::ReloadChanged: // a fix of a start that failed is tried at once
        return f.failedStart ? OperatorStart(f) : AppStep{AppState::Stopped, kNoAction, false};
    default: // one the operator stopped stays stopped, also when changed
        return {AppState::Stopped, kNoAction, false};
    }
}

AppStep FromRunning(AppState state, AppEvent event, const AppFacts& f) {
    switch (event) {
    case AppEvent::Exited:
        return AfterExit(f);
    case AppEvent::StopAsked:
    case AppEvent::Shutdown:
        return Stop(f, AppState::Stopped);
    case AppEvent::RestartAsked:
    case AppEvent::ReloadChanged:
        return Restart(f);
    case AppEvent::ReloadRemoved:
        return Stop(f, AppState::Removed);
    case AppEvent::Ready:
        if (state == AppState::Starting)
            return {AppState::Running, kSayReady | (f.healthChecks ? kStartChecks : kNoAction),
                    false};
        break;
    case AppEvent::ReadyTimedOut:
        if (state == AppState::Starting)
            return AfterReadyTimeout(f);
        break;
    case AppEvent::HealthFailed:
        if (state == AppState::Running) {
            AppStep step = Restart(f);
            step.actions |= kSayUnhealthy;
            return step;
        }
        break;
    default:
        break;
    }
    return {state, kNoAction, false};
}

AppStep FromStopping(AppEvent event, const AppFacts& f) {
    switch (event) {
    case AppEvent::StopAsked: // a second stop: at once, and for good
        return {AppState::Stopped, kSayTerminating | kEndTree, false};
    case AppEvent::RestartAsked:
        return {AppState::Stopping, kForgetQuickExits, true};
    case AppEvent::StopLimitPassed:
        return EndOfStop(f, true, AppState::Stopped);
    case AppEvent::TreeEnded:
        return EndOfStop(f, false, AppState::Stopped);
    case AppEvent::ReloadRemoved:
        return {AppState::Removed, kNoAction, false};
    case AppEvent::EndNow:
        if (f.startAfterStop)
            return StartOrWait(f, kEndTree);
        return {AppState::Stopped, kEndTree, false};
    case AppEvent::Shutdown:
        return {AppState::Stopping, kNoAction, false};
    default:
        return {AppState::Stopping, kNoAction, f.startAfterStop};
    }
}

AppStep FromWaiting(AppEvent event, const AppFacts& f) {
    switch (event) {
    case AppEvent::TimerDue:
        return StartOrWait(f, kNoAction);
    case AppEvent::StopAsked:
        return {AppState::Stopped, kForgetQuickExits | kCancelStart | kSayWillNotStart, false};
    case AppEvent::StartAsked:
    case AppEvent::RestartAsked:
    case AppEvent::ReloadChanged:
        return OperatorStart(f);
    case AppEvent::ReloadRemoved:
        return {AppState::Removed, kCancelStart, false};
    case AppEvent::Shutdown:
        return {AppState::Stopped, kCancelStart, false};
    default:
        return {AppState::Waiting, kNoAction, false};
    }
}

AppStep FromGaveUp(AppEvent event, const AppFacts& f) {
    switch (event) {
    case AppEvent::StartAsked:
    case AppEvent::RestartAsked:
    case AppEvent::ReloadChanged: // the operator's fix is tried at once
        return OperatorStart(f);
    case AppEvent::ReloadRemoved:
        return {AppState::Removed, kNoAction, false};
    default:
        return {AppState::GaveUp, kNoAction, false};
    }
}

// A removed application only finishes the stop that its removal began.
AppStep FromRemoved(AppEvent event, const AppFacts& f) {
    switch (event) {
    case AppEvent::StopLimitPassed:
        return EndOfStop(f, true, AppState::Removed);
    case AppEvent::TreeEnded:
        return EndOfStop(f, false, AppState::Removed);
    case AppEvent::StopAsked:
        return {AppState::Removed, f.stopUnderWay ? kSayTerminating | kEndTree : kNoAction, false};
    case AppEvent::EndNow:
        return {AppState::Removed, f.stopUnderWay ? kEndTree : kNoAction, false};
    case AppEvent::ReloadReturned: // started again, once a stop under way has ended
        return f.stopUnderWay ? AppStep{AppState::Stopping, kNoAction, true}
                              : AppStep{AppState::Stopped, kNoAction, false};
    default:
        return {AppState::Removed, kNoAction, false};
    }
}

} // namespace

AppStep NextStep(AppState state, AppEvent event, const AppFacts& facts) {
    switch (state) {
    case AppState::Stopped:
        return FromStopped(event, facts);
    case AppState::Starting:
    case AppState::Running:
        return FromRunning(state, event, facts);
    case AppState::Stopping:
        return FromStopping(event, facts);
    case AppState::Waiting:
        return FromWaiting(event, facts);
    case AppState::GaveUp:
        return FromGaveUp(event, facts);
    case AppState::Removed:
        return FromRemoved(event, facts);
    }
    return {state, kNoAction, false};
}

const char* StateWord(AppState state) {
    static const char* const kWords[kAppStates] = {"stopped", "starting", "running", "stopping",
                                                   "waiting", "gave-up",  "removed"};
    return kWords[static_cast<int>(state)];
}

const char* StateMark(AppState state) {
    static const char* const kMarks[kAppStates] = {
        "[STOPPED]", "[STARTING]", "", "[STOPPING]", "[WAITING]", "[GAVE UP]", "[REMOVED]"};
    return kMarks[static_cast<int>(state)];
}
