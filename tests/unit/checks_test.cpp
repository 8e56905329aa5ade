// [Ready] and [Health] over the fake port and clock: a port counts only
// when one of the application's own processes listens on it, and a health
// command runs as the application does, its processes ending with it.
#include "supervisor/health_check.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

constexpr std::uint32_t kApp = 1000; // the id the launch gets

class ChecksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager();
        fake::AddFile("C:\\web\\web.exe", "C:\\web\\web.exe");
        settings = test::App("web", "C:\\web\\web.exe");
    }
    static AppEntry& Web() { return *appTable.entries[0]; }
    static std::size_t Count(const std::string& message) {
        const Lines all = test::LogMessages();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), message));
    }
    // Runs `passes` more passes of the loop.
    static void RunMore(int passes) {
        const int start = fake::Get().waits;
        test::RunLoop([start, passes](int wait) { return wait < start + passes; });
    }
    AppSettings settings;
};

TEST_F(ChecksTest, APortHeldByAnotherProcessIsNotReadyAndSaidOnce) {
    settings.readiness.ready.kind = ReadyRule::Kind::Port;
    settings.readiness.ready.address.port = 5432;
    settings.readiness.readyTimeoutSeconds = 0;
    fake::Get().listening = {5432};
    fake::Get().listenerHolders[5432] = 77; // no process of web's
    test::Add(settings);
    RunMore(6);
    EXPECT_EQ(AppState::Starting, Web().state);
    EXPECT_GE(fake::Get().connections.size(), 3u);
    EXPECT_EQ(1u, Count("Port 5432 is held by another process; web is not ready."));
    EXPECT_EQ(0u, Count("web is ready."));

    // A child of web's takes the port over: web is ready.
    fake::AddProcess(kApp + 1, kApp, "C:\\web\\worker.exe");
    fake::Get().listenerHolders[5432] = kApp + 1;
    RunMore(2);
    EXPECT_EQ(AppState::Running, Web().state);
    EXPECT_EQ(1u, Count("web is ready."));
}

TEST_F(ChecksTest, AHealthPortHeldByAnotherProcessFails) {
    settings.readiness.health.kind = HealthCheck::Kind::Port;
    settings.readiness.health.address.port = 8080;
    settings.readiness.health.everySeconds = 1;
    fake::Get().listening = {8080};
    fake::Get().listenerHolders[8080] = kApp;
    test::Add(settings);
    RunMore(2);
    EXPECT_STREQ("healthy", HealthWord(Web()));
    fake::Get().listenerHolders[8080] = 77;
    RunMore(2);
    EXPECT_STREQ("unhealthy", HealthWord(Web()));
}

// As its user, in its directory, with its variables; what the command
// leaves in its group ends with it.
TEST_F(ChecksTest, AHealthCommandRunsAsTheApplicationAndTakesItsGroupAlong) {
    settings.user = "nobody";
    settings.environment = {"GREETING=hi"};
    settings.readiness.health.kind = HealthCheck::Kind::Command;
    settings.readiness.health.command = "./check";
    settings.readiness.health.everySeconds = 5;
    fake::Get().commandsRunOn = true;
    test::Add(settings);
    test::RunLoop([](int) { return fake::Get().commandStarts.empty(); });
    ASSERT_EQ(1u, fake::Get().commandStarts.size());
    const fake::Launch& command = fake::Get().commandStarts[0];
    EXPECT_EQ(fake::Get().launches[0].user, command.user);
    EXPECT_EQ("nobody", command.user);
    EXPECT_EQ("C:\\web", command.directory);
    EXPECT_EQ(Lines{"GREETING=hi"}, command.environment);
    EXPECT_EQ("", command.container);

    // It leaves a child behind in its group and ends with 0.
    fake::Process& child = fake::AddProcess(command.pid + 50, command.pid, "C:\\sleeper.exe");
    child.sessionId = child.groupId = command.pid;
    fake::EndProcess(command.pid);
    RunMore(1);
    EXPECT_STREQ("healthy", HealthWord(Web()));
    EXPECT_EQ((std::vector<std::uint32_t>{command.pid}), fake::Get().endedGroups);
    EXPECT_FALSE(fake::FindProcess(command.pid + 50)->alive);
}

// With ContainProcesses a command runs in a container of its own, which is
// ended with the check; one that passes its time limit fails, ended with
// its tree.
TEST_F(ChecksTest, AContainedHealthCommandEndsWithItsContainerAndItsLimit) {
    settings.containProcesses = true;
    settings.readiness.health.kind = HealthCheck::Kind::Command;
    settings.readiness.health.command = "./check";
    settings.readiness.health.everySeconds = 2;
    fake::Get().commandsRunOn = true;
    test::Add(settings);
    EXPECT_EQ("C:\\jobs\\web", fake::Get().launches[0].container);
    test::RunLoop([](int) { return fake::Get().commandStarts.empty(); });
    ASSERT_EQ(1u, fake::Get().commandStarts.size());
    const std::uint32_t first = fake::Get().commandStarts[0].pid;
    EXPECT_EQ("C:\\checks\\web", fake::Get().commandStarts[0].container);
    test::RunLoop([](int) { return Web().health.health == Health::Unknown; });
    EXPECT_STREQ("unhealthy", HealthWord(Web()));
    EXPECT_EQ((std::vector<std::uint32_t>{first}), fake::Get().killed);
    EXPECT_EQ(Lines{"C:\\checks\\web"}, fake::Get().endedContainers);
}

} // namespace
