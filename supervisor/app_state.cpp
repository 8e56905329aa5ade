#include "supervisor/app_state.h"

namespace {

constexpr std::uint16_t S(AppState state) {
    return static_cast<std::uint16_t>(1u << static_cast<int>(state));
}
constexpr std::uint32_t E(AppEvent event) {
    return 1u << static_cast<int>(event);
}

using enum AppState;
using enum AppEvent;

constexpr std::uint16_t kUp = S(Starting) | S(Running);
constexpr std::uint16_t kIdle = S(Stopped) | S(Failed);
constexpr std::uint32_t kStarts = E(StartAsked) | E(RestartAsked);
constexpr std::uint32_t kOperatorStarts = kStarts | E(ReloadChanged);
constexpr std::uint32_t kRestarts = E(RestartAsked) | E(ReloadChanged);

} // namespace

// One row a line, as a table reads.
// clang-format off
const AppTransition kAppTransitions[] = {
    // Stopped, or its last start failed.
    {kIdle, E(Launched), kReadyRule, 0, {Starting, kAwaitReady}},
    {kIdle, E(Launched), kHealthChecks, 0, {Running, kStartChecks}},
    {kIdle, E(Launched), 0, 0, {Running, kNoAction}},
    {kIdle, E(LaunchFailed), kRetryFailedStarts, 0, {Waiting, kPlanRetry}},
    {kIdle, E(LaunchFailed), 0, 0, {Failed, kNoAction}},
    {kIdle, E(ReloadRemoved), 0, 0, {Removed, kNoAction}},
    {S(Failed), E(StopAsked), 0, 0, {Stopped, kNoAction}},
    // One the operator stopped stays stopped, also when changed; a fix of a
    // start that failed is tried at once.
    {kIdle, kStarts, kNoStarts, 0, {Stopped, kForgetQuickExits | kCancelStart}},
    {kIdle, kStarts, kOrderUnmet, 0, {Waiting, kForgetQuickExits | kCancelStart | kAwaitOrder}},
    {kIdle, kStarts, 0, 0, {Stopped, kForgetQuickExits | kCancelStart | kLaunch}},
    {S(Failed), E(ReloadChanged), kNoStarts, 0, {Stopped, kForgetQuickExits | kCancelStart}},
    {S(Failed), E(ReloadChanged), kOrderUnmet, 0, {Waiting, kForgetQuickExits | kCancelStart | kAwaitOrder}},
    {S(Failed), E(ReloadChanged), 0, 0, {Stopped, kForgetQuickExits | kCancelStart | kLaunch}},

    // Running, ready or not.
    {kUp, E(Exited), kStaysDown, 0, {Stopped, kForgetProcess}},
    {kUp, E(Exited), kLeftoversEnded, 0, {Relaunching, kAwaitLeftovers}},
    {kUp, E(Exited), kPlanLater, 0, {Waiting, kForgetProcess | kPlanRelaunch}},
    {kUp, E(Exited), kPlanGiveUp, 0, {GaveUp, kForgetProcess | kSayGivingUp}},
    {kUp, E(Exited), 0, 0, {Stopped, kForgetProcess | kLaunch}},
    {kUp, E(StopAsked) | E(Shutdown), kPoliteStop, 0, {Stopping, kSayTerminating | kAskTreeToEnd}},
    {kUp, E(StopAsked) | E(Shutdown), 0, 0, {Stopped, kSayTerminating | kEndTree}},
    // A changed one whose stop waits for its turn keeps its process until
    // then, and stays stopped after it with the new settings.
    {S(Starting), E(ReloadChanged), kStaysDown, 0, {Starting, kNoAction}},
    {S(Running), E(ReloadChanged), kStaysDown, 0, {Running, kNoAction}},
    {kUp, kRestarts, kPoliteStop, 0, {Restarting, kForgetQuickExits | kSayTerminating | kAskTreeToEnd}},
    {kUp, kRestarts, kNoStarts, 0, {Stopped, kForgetQuickExits | kSayTerminating | kEndTree}},
    {kUp, kRestarts, kOrderUnmet, 0, {Waiting, kForgetQuickExits | kSayTerminating | kEndTree | kAwaitOrder}},
    {kUp, kRestarts, 0, 0, {Stopped, kForgetQuickExits | kSayTerminating | kEndTree | kLaunch}},
    {kUp, E(ReloadRemoved), kPoliteStop, 0, {RemovedStopping, kSayTerminating | kAskTreeToEnd}},
    {kUp, E(ReloadRemoved), 0, 0, {Removed, kSayTerminating | kEndTree}},
    {S(Starting), E(Ready), kHealthChecks, 0, {Running, kSayReady | kStartChecks}},
    {S(Starting), E(Ready), 0, 0, {Running, kSayReady}},
    // Not ready in time: its tree is ended, and the start counts as a quick exit.
    {S(Starting), E(ReadyTimedOut), kStaysDown, 0, {Stopped, kSayNotReady | kEndTree}},
    {S(Starting), E(ReadyTimedOut), kPlanLater, 0, {Waiting, kSayNotReady | kEndTree | kPlanRelaunch}},
    {S(Starting), E(ReadyTimedOut), kPlanGiveUp, 0, {GaveUp, kSayNotReady | kEndTree | kSayGivingUp}},
    {S(Starting), E(ReadyTimedOut), 0, 0, {Stopped, kSayNotReady | kEndTree | kLaunch}},
    {S(Running), E(HealthFailed), kStaysDown, 0, {Running, kNoAction}},
    {S(Running), E(HealthFailed), kPoliteStop, 0, {Restarting, kForgetQuickExits | kSayTerminating | kAskTreeToEnd | kSayUnhealthy}},
    {S(Running), E(HealthFailed), kNoStarts, 0, {Stopped, kForgetQuickExits | kSayTerminating | kEndTree | kSayUnhealthy}},
    {S(Running), E(HealthFailed), kOrderUnmet, 0, {Waiting, kForgetQuickExits | kSayTerminating | kEndTree | kSayUnhealthy | kAwaitOrder}},
    {S(Running), E(HealthFailed), 0, 0, {Stopped, kForgetQuickExits | kSayTerminating | kEndTree | kSayUnhealthy | kLaunch}},

    // A stop under way: a second stop ends the tree at once, and for good.
    {S(Stopping) | S(Restarting) | S(Relaunching), E(StopAsked), 0, 0, {Stopped, kSayTerminating | kEndTree}},
    {S(Stopping) | S(Restarting), E(RestartAsked), 0, 0, {Restarting, kForgetQuickExits}},
    {S(Relaunching), E(RestartAsked), 0, 0, {Relaunching, kForgetQuickExits}},
    {S(Stopping) | S(Restarting), E(ReloadRemoved), 0, 0, {RemovedStopping, kNoAction}},
    {S(Stopping), E(StopLimitPassed), 0, 0, {Stopped, kSayDidNotStop | kEndTree | kFinishStop}},
    {S(Stopping), E(TreeEnded), 0, 0, {Stopped, kSayStopped | kFinishStop}},
    {S(Stopping), E(EndNow), 0, 0, {Stopped, kEndTree}},
    {S(Restarting), E(StopLimitPassed), kNoStarts, 0, {Stopped, kSayDidNotStop | kEndTree | kFinishStop}},
    {S(Restarting), E(StopLimitPassed), kOrderUnmet, 0, {Waiting, kSayDidNotStop | kEndTree | kFinishStop | kAwaitOrder}},
    {S(Restarting), E(StopLimitPassed), 0, 0, {Stopped, kSayDidNotStop | kEndTree | kFinishStop | kLaunch}},
    {S(Restarting), E(TreeEnded), kNoStarts, 0, {Stopped, kSayStopped | kFinishStop}},
    {S(Restarting), E(TreeEnded), kOrderUnmet, 0, {Waiting, kSayStopped | kFinishStop | kAwaitOrder}},
    {S(Restarting), E(TreeEnded), 0, 0, {Stopped, kSayStopped | kFinishStop | kLaunch}},
    {S(Restarting), E(EndNow), kNoStarts, 0, {Stopped, kEndTree}},
    {S(Restarting), E(EndNow), kOrderUnmet, 0, {Waiting, kEndTree | kAwaitOrder}},
    {S(Restarting), E(EndNow), 0, 0, {Stopped, kEndTree | kLaunch}},
    // The end of every application: a restart under way becomes a stop.
    {S(Restarting), E(Shutdown), 0, 0, {Stopping, kNoAction}},
    // The leftovers of an exit were ended already: their end (or the wait's
    // limit) lets the relaunch go, and nothing is said.
    {S(Relaunching), E(StopLimitPassed) | E(TreeEnded), kNoStarts, 0, {Stopped, kFinishStop}},
    {S(Relaunching), E(StopLimitPassed) | E(TreeEnded), kOrderUnmet, 0, {Waiting, kFinishStop | kAwaitOrder}},
    {S(Relaunching), E(StopLimitPassed) | E(TreeEnded), 0, 0, {Stopped, kFinishStop | kLaunch}},
    {S(Relaunching), E(EndNow), kNoStarts, 0, {Stopped, kEndTree}},
    {S(Relaunching), E(EndNow), kOrderUnmet, 0, {Waiting, kEndTree | kAwaitOrder}},
    {S(Relaunching), E(EndNow), 0, 0, {Stopped, kEndTree | kLaunch}},
    {S(Relaunching), E(ReloadRemoved), 0, 0, {Removed, kFinishStop}},
    {S(Relaunching), E(Shutdown), 0, 0, {Stopped, kFinishStop}},

    // A start is planned.
    {S(Waiting), E(TimerDue), kNoStarts, 0, {Stopped, kNoAction}},
    {S(Waiting), E(TimerDue), kOrderUnmet, 0, {Waiting, kAwaitOrder}},
    {S(Waiting), E(TimerDue), 0, 0, {Stopped, kLaunch}},
    {S(Waiting), E(StopAsked), 0, 0, {Stopped, kForgetQuickExits | kCancelStart | kSayWillNotStart}},
    {S(Waiting), kOperatorStarts, kNoStarts, 0, {Stopped, kForgetQuickExits | kCancelStart}},
    {S(Waiting), kOperatorStarts, kOrderUnmet, 0, {Waiting, kForgetQuickExits | kCancelStart | kAwaitOrder}},
    {S(Waiting), kOperatorStarts, 0, 0, {Stopped, kForgetQuickExits | kCancelStart | kLaunch}},
    {S(Waiting), E(ReloadRemoved), 0, 0, {Removed, kCancelStart}},
    {S(Waiting), E(Shutdown), 0, 0, {Stopped, kCancelStart}},

    // Given up on: the operator's fix is tried at once.
    {S(GaveUp), kOperatorStarts, kNoStarts, 0, {Stopped, kForgetQuickExits | kCancelStart}},
    {S(GaveUp), kOperatorStarts, kOrderUnmet, 0, {Waiting, kForgetQuickExits | kCancelStart | kAwaitOrder}},
    {S(GaveUp), kOperatorStarts, 0, 0, {Stopped, kForgetQuickExits | kCancelStart | kLaunch}},
    {S(GaveUp), E(ReloadRemoved), 0, 0, {Removed, kNoAction}},

    // Removed: it only finishes the stop that its removal began.
    {S(RemovedStopping), E(StopLimitPassed), 0, 0, {Removed, kSayDidNotStop | kEndTree | kFinishStop}},
    {S(RemovedStopping), E(TreeEnded), 0, 0, {Removed, kSayStopped | kFinishStop}},
    {S(RemovedStopping), E(StopAsked), 0, 0, {Removed, kSayTerminating | kEndTree}},
    {S(RemovedStopping), E(EndNow), 0, 0, {Removed, kEndTree}},
    // Named again: started once a stop under way has ended.
    {S(RemovedStopping), E(ReloadReturned), 0, 0, {Restarting, kNoAction}},
    {S(Removed), E(ReloadReturned), 0, 0, {Stopped, kNoAction}},
};
// clang-format on

const int kAppTransitionCount =
    static_cast<int>(sizeof kAppTransitions / sizeof kAppTransitions[0]);

AppStep NextStep(AppState state, AppEvent event, std::uint16_t facts) {
    for (const AppTransition& row : kAppTransitions)
        if ((row.states & S(state)) != 0 && (row.events & E(event)) != 0 &&
            (facts & row.set) == row.set && (facts & row.clear) == 0)
            return row.step;
    return {state, kNoAction};
}

const char* StateWord(AppState state) {
    static const char* const kWords[kAppStates] = {"stopped",  "starting", "running", "stopping",
                                                   "stopping", "stopping", "waiting", "gave-up",
                                                   "failed",   "removed",  "removed"};
    return kWords[static_cast<int>(state)];
}

const char* StateMark(AppState state) {
    static const char* const kMarks[kAppStates] = {
        "[STOPPED]", "[STARTING]", "",          "[STOPPING]", "[STOPPING]", "[STOPPING]",
        "[WAITING]", "[GAVE UP]",  "[STOPPED]", "[REMOVED]",  "[REMOVED]"};
    return kMarks[static_cast<int>(state)];
}
