// Pauses before relaunches after quick exits: the sequence of pauses, and
// what the commands do with a waiting or given-up application.
#include "control/control_server.h"
#include "loop/timers.h"
#include "supervisor/exit_policy.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

class RestartDelayTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(100, 60); }
};

TEST_F(RestartDelayTest, PausesDoubleUpToTheCapResetAfterALongRunAndMayGiveUp) {
    RestartPolicy policy;
    policy.restartDelaySeconds = 1;
    policy.restartDelayMaxSeconds = 4;
    policy.minUptimeSeconds = 10;
    policy.giveUpAfter = 7;
    struct Step {
        std::uint64_t uptimeMs;
        RestartPlan plan;
        std::uint32_t delay;
    };
    const Step steps[] = {
        {100, RestartPlan::Later, 1}, {9999, RestartPlan::Later, 2}, {0, RestartPlan::Later, 4},
        {0, RestartPlan::Later, 4},   {10000, RestartPlan::Now, 0},  {0, RestartPlan::Later, 1},
        {0, RestartPlan::Later, 2},   {0, RestartPlan::Later, 4},    {0, RestartPlan::Later, 4},
        {0, RestartPlan::Later, 4},   {0, RestartPlan::Later, 4},    {0, RestartPlan::GiveUp, 4},
    };
    RestartCount count;
    for (const Step& step : steps) {
        SCOPED_TRACE(&step - steps);
        EXPECT_EQ(step.plan, PlanRestart(policy, count, step.uptimeMs));
        EXPECT_EQ(step.delay, count.pause.seconds);
    }
    EXPECT_EQ(7u, count.quickExits);

    // Without a pause of its own the give-up still counts; the default cap
    // is 60 times the first pause; no key at all relaunches at once.
    count = RestartCount{};
    policy.restartDelaySeconds = 0;
    policy.giveUpAfter = 2;
    EXPECT_EQ(RestartPlan::Now, PlanRestart(policy, count, 0));
    EXPECT_EQ(RestartPlan::GiveUp, PlanRestart(policy, count, 0));
    count = RestartCount{};
    policy.restartDelaySeconds = 50;
    policy.restartDelayMaxSeconds = 0;
    policy.giveUpAfter = 0;
    for (int i = 0; i < 8; ++i)
        PlanRestart(policy, count, 0);
    EXPECT_EQ(3000u, count.pause.seconds);
    policy.restartDelaySeconds = 0;
    EXPECT_EQ(RestartPlan::Now, PlanRestart(policy, count, 0));
}

TEST_F(RestartDelayTest, AWaitingApplicationIsListedAndItsNextStartReported) {
    RegisterCommands();
    fake::AddFile("C:\\a.exe", "C:\\a.exe");
    AppSettings settings = test::App("a", "C:\\a.exe");
    settings.restart.restartDelaySeconds = 2;
    AppEntry& a = test::Add(settings);
    fake::EndProcess(fake::PidOf(a.process.Get()));
    OnAppExit(&waitTable, 1, &a);
    EXPECT_EQ("Will restart a in 2 s.", test::LastMessage());
    ExecuteLine("list");
    EXPECT_EQ("   0: a [WAITING]", test::LogMessages().end()[-3]);
    fake::Get().nowMs += 500;
    const AppStatus status = CollectStatus()[0];
    EXPECT_EQ("waiting", status.state);
    EXPECT_EQ(2u, status.nextStartSeconds); // 1.5 s, rounded up
    EXPECT_EQ(1u, status.quickExits);
    EXPECT_EQ(1500u, TimerWaitLimitMs());
    fake::Get().nowMs += 1500;
    RunDueTimers();
    EXPECT_EQ("Starting process a.", test::LastMessage());
}

} // namespace
