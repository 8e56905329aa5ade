// The transition table: what must hold for every state, event and set of
// facts, and the steps that depend on a fact.
#include "supervisor/app_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using S = AppState;
using E = AppEvent;

constexpr std::uint32_t kStart = kForgetQuickExits | kCancelStart | kLaunch;
constexpr std::uint32_t kKill = kSayTerminating | kEndTree;
constexpr std::uint16_t kAllFacts = (1u << 10) - 1;
constexpr std::uint32_t kEnds = kEndTree | kForgetProcess | kFinishStop;

bool HasProcess(S state) {
    return IsUp(state) || IsStopping(state);
}

std::string Where(int state, int event, unsigned facts) {
    return "state " + std::to_string(state) + ", event " + std::to_string(event) + ", facts " +
           std::to_string(facts);
}

// Checked for every state, event and set of facts.
TEST(AppStateTable, WhatHoldsForEveryStateEventAndFacts) {
    int broken = 0;
    for (int s = 0; s < kAppStates; ++s) {
        for (int e = 0; e < kAppEvents; ++e) {
            for (unsigned f = 0; f <= kAllFacts; ++f) {
                // Facts that never come together: the end of every
                // application is one more reason to stay down; the exit
                // policy says one thing.
                if (((f & kNoStarts) && !(f & kStaysDown)) ||
                    ((f & kPlanLater) && (f & kPlanGiveUp)))
                    continue;
                const S state = static_cast<S>(s);
                const E event = static_cast<E>(e);
                const AppStep step = NextStep(state, event, static_cast<std::uint16_t>(f));
                auto expect = [&](bool holds, const char* rule) {
                    if (!holds && ++broken <= 10)
                        ADD_FAILURE() << rule << " (" << Where(s, e, f) << ")";
                };
                // Nothing starts while the manager ends every application,
                // nor a removed application; a start holds no process.
                expect(!((f & kNoStarts) || IsRemoved(step.next)) || !(step.actions & kLaunch),
                       "no start when nothing may start");
                expect(
                    !(step.actions & kLaunch) ||
                        (step.next == S::Stopped && (!HasProcess(state) || (step.actions & kEnds))),
                    "a start comes from a state without a process");
                // One whose process was held and that holds none afterwards
                // ended it or let it go; one that now stops asked its tree.
                expect(!(HasProcess(state) && !HasProcess(step.next)) || (step.actions & kEnds),
                       "a process is ended or let go");
                expect(!(IsUp(state) && IsStopping(step.next)) ||
                           (step.actions & (kAskTreeToEnd | kAwaitLeftovers)),
                       "a stop asks the tree");
                // A removed application only finishes its stop, or comes back.
                expect(!IsRemoved(state) || event == E::ReloadReturned || IsRemoved(step.next),
                       "a removed application stays removed");
                // The checks belong to the states they run in.
                expect(!(step.actions & kAwaitReady) || step.next == S::Starting,
                       "readiness is watched while starting");
                expect(!(step.actions & kStartChecks) || step.next == S::Running,
                       "health is checked while running");
                // What the operator stopped stays stopped through a reload.
                expect(!(state == S::Stopped && event == E::ReloadChanged) ||
                           step.next == S::Stopped,
                       "a reload leaves a stopped application stopped");
                // One that stays down is not started by an exit or a check.
                expect(!((f & kStaysDown) && (event == E::Exited || event == E::HealthFailed ||
                                              event == E::ReadyTimedOut)) ||
                           !(step.actions & kLaunch),
                       "one that stays down is not started again");
            }
        }
    }
}

TEST(AppStateTable, TheStepsThatDependOnAFact) {
    const struct {
        S state;
        E event;
        std::uint16_t facts;
        AppStep expected;
    } rows[] = {
        {S::Stopped, E::LaunchFailed, 0, {S::Failed, kNoAction}},
        {S::Stopped, E::LaunchFailed, kRetryFailedStarts, {S::Waiting, kPlanRetry}},
        // A reload that changes one whose last start failed tries the fix.
        {S::Failed, E::ReloadChanged, 0, {S::Stopped, kStart}},
        {S::Failed, E::StopAsked, 0, {S::Stopped, kNoAction}},
        {S::Running, E::StopAsked, 0, {S::Stopped, kKill}},
        {S::Running, E::StopAsked, kPoliteStop, {S::Stopping, kSayTerminating | kAskTreeToEnd}},
        {S::Running, E::ReloadChanged, 0, {S::Stopped, kForgetQuickExits | kKill | kLaunch}},
        {S::Running,
         E::ReloadChanged,
         kPoliteStop,
         {S::Restarting, kForgetQuickExits | kSayTerminating | kAskTreeToEnd}},
        {S::Running,
         E::ReloadRemoved,
         kPoliteStop,
         {S::RemovedStopping, kSayTerminating | kAskTreeToEnd}},
        {S::Running, E::Exited, 0, {S::Stopped, kForgetProcess | kLaunch}},
        {S::Running, E::Exited, kPlanLater, {S::Waiting, kForgetProcess | kPlanRelaunch}},
        {S::Running, E::Exited, kPlanGiveUp, {S::GaveUp, kForgetProcess | kSayGivingUp}},
        {S::Running, E::Exited, kStaysDown | kPlanLater, {S::Stopped, kForgetProcess}},
        {S::Running, E::Exited, kLeftoversEnded, {S::Relaunching, kAwaitLeftovers}},
        // A stop before a start: the start follows the end of the tree.
        {S::Restarting, E::TreeEnded, 0, {S::Stopped, kSayStopped | kFinishStop | kLaunch}},
        {S::Restarting, E::TreeEnded, kNoStarts, {S::Stopped, kSayStopped | kFinishStop}},
        {S::Restarting, E::Shutdown, 0, {S::Stopping, kNoAction}},
        // The leftovers of an exit were ended already: their wait ends in a
        // relaunch, silently.
        {S::Relaunching, E::TreeEnded, 0, {S::Stopped, kFinishStop | kLaunch}},
        {S::Relaunching, E::StopLimitPassed, 0, {S::Stopped, kFinishStop | kLaunch}},
        {S::RemovedStopping, E::ReloadReturned, 0, {S::Restarting, kNoAction}},
        {S::Removed, E::ReloadReturned, 0, {S::Stopped, kNoAction}},
        {S::Stopped, E::Launched, kReadyRule, {S::Starting, kAwaitReady}},
        {S::Stopped, E::Launched, kHealthChecks, {S::Running, kStartChecks}},
        {S::Starting, E::Ready, kHealthChecks, {S::Running, kSayReady | kStartChecks}},
        {S::Running,
         E::HealthFailed,
         kPoliteStop,
         {S::Restarting, kSayUnhealthy | kForgetQuickExits | kSayTerminating | kAskTreeToEnd}},
        {S::Running, E::HealthFailed, kStaysDown, {S::Running, kNoAction}},
        {S::Running, E::ReloadChanged, kStaysDown | kPoliteStop, {S::Running, kNoAction}},
        // Not ready in time counts as a quick exit.
        {S::Starting, E::ReadyTimedOut, 0, {S::Stopped, kSayNotReady | kEndTree | kLaunch}},
        {S::Starting,
         E::ReadyTimedOut,
         kPlanLater,
         {S::Waiting, kSayNotReady | kEndTree | kPlanRelaunch}},
        {S::Starting, E::ReadyTimedOut, kStaysDown, {S::Stopped, kSayNotReady | kEndTree}},
        // A start that keeps the order waits while what it starts after is
        // not ready; so do the starts that end a restart; a relaunch after
        // an exit never does.
        {S::Stopped,
         E::StartAsked,
         kOrderUnmet,
         {S::Waiting, kForgetQuickExits | kCancelStart | kAwaitOrder}},
        {S::Waiting, E::TimerDue, kOrderUnmet, {S::Waiting, kAwaitOrder}},
        {S::Running,
         E::RestartAsked,
         kOrderUnmet,
         {S::Waiting, kForgetQuickExits | kKill | kAwaitOrder}},
        {S::Restarting,
         E::TreeEnded,
         kOrderUnmet,
         {S::Waiting, kSayStopped | kFinishStop | kAwaitOrder}},
        {S::Running, E::Exited, kOrderUnmet, {S::Stopped, kForgetProcess | kLaunch}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
        const AppStep step = NextStep(row.state, row.event, row.facts);
        EXPECT_EQ(row.expected.next, step.next);
        EXPECT_EQ(row.expected.actions, step.actions);
    }
}

} // namespace
