// The transition function, pair by pair: every state with every event under
// the plain facts, then the pairs whose step depends on a fact.
#include "supervisor/app_state.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace {

using S = AppState;
using E = AppEvent;

struct Expected {
    S next;
    std::uint32_t actions;
    bool startAfterStop = false;
};

constexpr std::uint32_t kStart = kForgetQuickExits | kCancelStart | kLaunch;
constexpr std::uint32_t kKill = kSayTerminating | kEndTree;

// Under the plain facts: no stop limit, nothing under way, no retries, and
// after an exit a relaunch at once.
const std::map<std::pair<S, E>, Expected> kPlain = {
    {{S::Stopped, E::Launched}, {S::Running, kNoAction}},
    {{S::Stopped, E::LaunchFailed}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::Exited}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::StopAsked}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::RestartAsked}, {S::Stopped, kStart}},
    {{S::Stopped, E::StartAsked}, {S::Stopped, kStart}},
    {{S::Stopped, E::StopLimitPassed}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::TreeEnded}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::TimerDue}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::ReloadChanged}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::ReloadRemoved}, {S::Removed, kNoAction}},
    {{S::Stopped, E::ReloadReturned}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::EndNow}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::Shutdown}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::Ready}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::ReadyTimedOut}, {S::Stopped, kNoAction}},
    {{S::Stopped, E::HealthFailed}, {S::Stopped, kNoAction}},

    {{S::Starting, E::Launched}, {S::Starting, kNoAction}},
    {{S::Starting, E::LaunchFailed}, {S::Starting, kNoAction}},
    {{S::Starting, E::Exited}, {S::Stopped, kForgetProcess | kLaunch}},
    {{S::Starting, E::StopAsked}, {S::Stopped, kKill}},
    {{S::Starting, E::RestartAsked}, {S::Stopped, kForgetQuickExits | kKill | kLaunch}},
    {{S::Starting, E::StartAsked}, {S::Starting, kNoAction}},
    {{S::Starting, E::StopLimitPassed}, {S::Starting, kNoAction}},
    {{S::Starting, E::TreeEnded}, {S::Starting, kNoAction}},
    {{S::Starting, E::TimerDue}, {S::Starting, kNoAction}},
    {{S::Starting, E::ReloadChanged}, {S::Stopped, kForgetQuickExits | kKill | kLaunch}},
    {{S::Starting, E::ReloadRemoved}, {S::Removed, kKill}},
    {{S::Starting, E::ReloadReturned}, {S::Starting, kNoAction}},
    {{S::Starting, E::EndNow}, {S::Starting, kNoAction}},
    {{S::Starting, E::Shutdown}, {S::Stopped, kKill}},
    {{S::Starting, E::Ready}, {S::Running, kSayReady}},
    {{S::Starting, E::ReadyTimedOut}, {S::Stopped, kSayNotReady | kEndTree | kLaunch}},
    {{S::Starting, E::HealthFailed}, {S::Starting, kNoAction}},

    {{S::Running, E::Launched}, {S::Running, kNoAction}},
    {{S::Running, E::LaunchFailed}, {S::Running, kNoAction}},
    {{S::Running, E::Exited}, {S::Stopped, kForgetProcess | kLaunch}},
    {{S::Running, E::StopAsked}, {S::Stopped, kKill}},
    {{S::Running, E::RestartAsked}, {S::Stopped, kForgetQuickExits | kKill | kLaunch}},
    {{S::Running, E::StartAsked}, {S::Running, kNoAction}},
    {{S::Running, E::StopLimitPassed}, {S::Running, kNoAction}},
    {{S::Running, E::TreeEnded}, {S::Running, kNoAction}},
    {{S::Running, E::TimerDue}, {S::Running, kNoAction}},
    {{S::Running, E::ReloadChanged}, {S::Stopped, kForgetQuickExits | kKill | kLaunch}},
    {{S::Running, E::ReloadRemoved}, {S::Removed, kKill}},
    {{S::Running, E::ReloadReturned}, {S::Running, kNoAction}},
    {{S::Running, E::EndNow}, {S::Running, kNoAction}},
    {{S::Running, E::Shutdown}, {S::Stopped, kKill}},
    {{S::Running, E::Ready}, {S::Running, kNoAction}},
    {{S::Running, E::ReadyTimedOut}, {S::Running, kNoAction}},
    {{S::Running, E::HealthFailed},
     {S::Stopped, kSayUnhealthy | kForgetQuickExits | kKill | kLaunch}},

    {{S::Stopping, E::Launched}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::LaunchFailed}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::Exited}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::StopAsked}, {S::Stopped, kKill}},
    {{S::Stopping, E::RestartAsked}, {S::Stopping, kForgetQuickExits, true}},
    {{S::Stopping, E::StartAsked}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::StopLimitPassed}, {S::Stopped, kSayDidNotStop | kEndTree | kFinishStop}},
    {{S::Stopping, E::TreeEnded}, {S::Stopped, kSayStopped | kFinishStop}},
    {{S::Stopping, E::TimerDue}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::ReloadChanged}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::ReloadRemoved}, {S::Removed, kNoAction}},
    {{S::Stopping, E::ReloadReturned}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::EndNow}, {S::Stopped, kEndTree}},
    {{S::Stopping, E::Shutdown}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::Ready}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::ReadyTimedOut}, {S::Stopping, kNoAction}},
    {{S::Stopping, E::HealthFailed}, {S::Stopping, kNoAction}},

    {{S::Waiting, E::Launched}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::LaunchFailed}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::Exited}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::StopAsked}, {S::Stopped, kForgetQuickExits | kCancelStart | kSayWillNotStart}},
    {{S::Waiting, E::RestartAsked}, {S::Stopped, kStart}},
    {{S::Waiting, E::StartAsked}, {S::Stopped, kStart}},
    {{S::Waiting, E::StopLimitPassed}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::TreeEnded}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::TimerDue}, {S::Stopped, kLaunch}},
    {{S::Waiting, E::ReloadChanged}, {S::Stopped, kStart}},
    {{S::Waiting, E::ReloadRemoved}, {S::Removed, kCancelStart}},
    {{S::Waiting, E::ReloadReturned}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::EndNow}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::Shutdown}, {S::Stopped, kCancelStart}},
    {{S::Waiting, E::Ready}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::ReadyTimedOut}, {S::Waiting, kNoAction}},
    {{S::Waiting, E::HealthFailed}, {S::Waiting, kNoAction}},

    {{S::GaveUp, E::Launched}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::LaunchFailed}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::Exited}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::StopAsked}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::RestartAsked}, {S::Stopped, kStart}},
    {{S::GaveUp, E::StartAsked}, {S::Stopped, kStart}},
    {{S::GaveUp, E::StopLimitPassed}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::TreeEnded}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::TimerDue}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::ReloadChanged}, {S::Stopped, kStart}},
    {{S::GaveUp, E::ReloadRemoved}, {S::Removed, kNoAction}},
    {{S::GaveUp, E::ReloadReturned}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::EndNow}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::Shutdown}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::Ready}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::ReadyTimedOut}, {S::GaveUp, kNoAction}},
    {{S::GaveUp, E::HealthFailed}, {S::GaveUp, kNoAction}},

    {{S::Removed, E::Launched}, {S::Removed, kNoAction}},
    {{S::Removed, E::LaunchFailed}, {S::Removed, kNoAction}},
    {{S::Removed, E::Exited}, {S::Removed, kNoAction}},
    {{S::Removed, E::StopAsked}, {S::Removed, kNoAction}},
    {{S::Removed, E::RestartAsked}, {S::Removed, kNoAction}},
    {{S::Removed, E::StartAsked}, {S::Removed, kNoAction}},
    {{S::Removed, E::StopLimitPassed}, {S::Removed, kSayDidNotStop | kEndTree | kFinishStop}},
    {{S::Removed, E::TreeEnded}, {S::Removed, kSayStopped | kFinishStop}},
    {{S::Removed, E::TimerDue}, {S::Removed, kNoAction}},
    {{S::Removed, E::ReloadChanged}, {S::Removed, kNoAction}},
    {{S::Removed, E::ReloadRemoved}, {S::Removed, kNoAction}},
    {{S::Removed, E::ReloadReturned}, {S::Stopped, kNoAction}},
    {{S::Removed, E::EndNow}, {S::Removed, kNoAction}},
    {{S::Removed, E::Shutdown}, {S::Removed, kNoAction}},
    {{S::Removed, E::Ready}, {S::Removed, kNoAction}},
    {{S::Removed, E::ReadyTimedOut}, {S::Removed, kNoAction}},
    {{S::Removed, E::HealthFailed}, {S::Removed, kNoAction}},
};

void ExpectStep(S state, E event, const AppFacts& facts, const Expected& expected) {
    const AppStep step = NextStep(state, event, facts);
    EXPECT_EQ(expected.next, step.next);
    EXPECT_EQ(expected.actions, step.actions);
    EXPECT_EQ(expected.startAfterStop, step.startAfterStop);
}

TEST(AppStateTest, EveryStateWithEveryEventUnderThePlainFacts) {
    ASSERT_EQ(static_cast<std::size_t>(kAppStates * kAppEvents), kPlain.size());
    for (int s = 0; s < kAppStates; ++s) {
        for (int e = 0; e < kAppEvents; ++e) {
            const auto pair = std::make_pair(static_cast<S>(s), static_cast<E>(e));
            SCOPED_TRACE(testing::Message() << "state " << s << ", event " << e);
            ASSERT_EQ(1u, kPlain.count(pair));
            ExpectStep(pair.first, pair.second, AppFacts{}, kPlain.at(pair));
        }
    }
}

TEST(AppStateTest, ThePairsThatDependOnAFact) {
    AppFacts polite;
    polite.politeStop = true;
    AppFacts retry;
    retry.retryFailedStarts = true;
    AppFacts thenStart;
    thenStart.startAfterStop = true;
    AppFacts leftovers = thenStart;
    leftovers.leftoversStop = true;
    AppFacts underWay;
    underWay.stopUnderWay = true;
    AppFacts failed;
    failed.failedStart = true;
    AppFacts removedLeftovers = underWay;
    removedLeftovers.leftoversStop = true;
    AppFacts ready;
    ready.readyRule = true;
    AppFacts health;
    health.healthChecks = true;
    AppFacts politeHealth = health;
    politeHealth.politeStop = true;
    AppFacts unmet;
    unmet.orderUnmet = true;
    AppFacts unmetAfterStop = unmet;
    unmetAfterStop.startAfterStop = true;
    auto exit = [](RestartPlan plan, bool awaitLeftovers = false) {
        AppFacts facts;
        facts.plan = plan;
        facts.awaitLeftovers = awaitLeftovers;
        return facts;
    };
    const struct {
        S state;
        E event;
        AppFacts facts;
        Expected expected;
    } rows[] = {
        {S::Stopped, E::LaunchFailed, retry, {S::Waiting, kPlanRetry}},
        // A reload that changes one whose last start failed tries the fix.
        {S::Stopped, E::ReloadChanged, failed, {S::Stopped, kStart}},
        {S::Running, E::StopAsked, polite, {S::Stopping, kSayTerminating | kAskTreeToEnd}},
        {S::Running, E::Shutdown, polite, {S::Stopping, kSayTerminating | kAskTreeToEnd}},
        {S::Running,
         E::RestartAsked,
         polite,
         {S::Stopping, kForgetQuickExits | kSayTerminating | kAskTreeToEnd, true}},
        {S::Running,
         E::ReloadChanged,
         polite,
         {S::Stopping, kForgetQuickExits | kSayTerminating | kAskTreeToEnd, true}},
        {S::Running, E::ReloadRemoved, polite, {S::Removed, kSayTerminating | kAskTreeToEnd}},
        {S::Running,
         E::Exited,
         exit(RestartPlan::Later),
         {S::Waiting, kForgetProcess | kPlanRelaunch}},
        {S::Running,
         E::Exited,
         exit(RestartPlan::GiveUp),
         {S::GaveUp, kForgetProcess | kSayGivingUp}},
        {S::Running, E::Exited, exit(RestartPlan::Stay), {S::Stopped, kForgetProcess}},
        {S::Running, E::Exited, exit(RestartPlan::Now, true), {S::Stopping, kAwaitLeftovers, true}},
        {S::Stopping, E::TreeEnded, thenStart, {S::Stopped, kSayStopped | kFinishStop | kLaunch}},
        {S::Stopping,
         E::StopLimitPassed,
         thenStart,
         {S::Stopped, kSayDidNotStop | kEndTree | kFinishStop | kLaunch}},
        {S::Stopping, E::EndNow, thenStart, {S::Stopped, kEndTree | kLaunch}},
        {S::Stopping, E::StopAsked, thenStart, {S::Stopped, kKill}},
        {S::Stopping, E::StartAsked, thenStart, {S::Stopping, kNoAction, true}},
        {S::Stopping, E::Shutdown, thenStart, {S::Stopping, kNoAction}},
        {S::Stopping, E::ReloadRemoved, thenStart, {S::Removed, kNoAction}},
        {S::Stopping, E::ReloadChanged, thenStart, {S::Stopping, kNoAction, true}},
        // The leftovers of an exit were ended already: their wait ends in a
        // relaunch, silently.
        {S::Stopping, E::TreeEnded, leftovers, {S::Stopped, kFinishStop | kLaunch}},
        {S::Stopping, E::StopLimitPassed, leftovers, {S::Stopped, kFinishStop | kLaunch}},
        {S::Removed, E::StopAsked, underWay, {S::Removed, kKill}},
        {S::Removed, E::EndNow, underWay, {S::Removed, kEndTree}},
        {S::Removed, E::ReloadReturned, underWay, {S::Stopping, kNoAction, true}},
        {S::Removed, E::TreeEnded, removedLeftovers, {S::Removed, kFinishStop}},
        // A [Ready] rule: launched, it is starting until the rule is met.
        {S::Stopped, E::Launched, ready, {S::Starting, kAwaitReady}},
        // A [Health] check runs from the moment it is ready.
        {S::Stopped, E::Launched, health, {S::Running, kStartChecks}},
        {S::Starting, E::Ready, health, {S::Running, kSayReady | kStartChecks}},
        {S::Running,
         E::HealthFailed,
         politeHealth,
         {S::Stopping, kSayUnhealthy | kForgetQuickExits | kSayTerminating | kAskTreeToEnd, true}},
        // Not ready in time counts as a quick exit.
        {S::Starting,
         E::ReadyTimedOut,
         exit(RestartPlan::Later),
         {S::Waiting, kSayNotReady | kEndTree | kPlanRelaunch}},
        {S::Starting,
         E::ReadyTimedOut,
         exit(RestartPlan::GiveUp),
         {S::GaveUp, kSayNotReady | kEndTree | kSayGivingUp}},
        // A start that keeps the order waits while what it starts after is
        // not ready; so do the starts that end a restart.
        {S::Stopped,
         E::StartAsked,
         unmet,
         {S::Waiting, kForgetQuickExits | kCancelStart | kAwaitOrder}},
        {S::GaveUp,
         E::RestartAsked,
         unmet,
         {S::Waiting, kForgetQuickExits | kCancelStart | kAwaitOrder}},
        {S::Waiting, E::TimerDue, unmet, {S::Waiting, kAwaitOrder}},
        {S::Running, E::RestartAsked, unmet, {S::Waiting, kForgetQuickExits | kKill | kAwaitOrder}},
        {S::Stopping,
         E::TreeEnded,
         unmetAfterStop,
         {S::Waiting, kSayStopped | kFinishStop | kAwaitOrder}},
        {S::Stopping, E::EndNow, unmetAfterStop, {S::Waiting, kEndTree | kAwaitOrder}},
        // A relaunch after an exit never waits for the order.
        {S::Running, E::Exited, unmet, {S::Stopped, kForgetProcess | kLaunch}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
        ExpectStep(row.state, row.event, row.facts, row.expected);
    }
}

} // namespace
