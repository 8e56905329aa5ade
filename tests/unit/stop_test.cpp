// Stops with a time limit over the fake port and clock, and the leftovers of
// an application that ended on its own.
#include "control/control_server.h"
#include "supervisor/stop.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using Ids = std::vector<std::uint32_t>;

// alpha (1000) leads its session and group and does not end when asked;
// 1001 is its child in the group; 1002 a daemon of its session in a group
// of its own, which does not end when asked either.
void AddTree(std::uint32_t root) {
    fake::Process* leader = fake::FindProcess(root);
    leader->sessionId = leader->groupId = root;
    leader->endsWhenAsked = false;
    fake::Process& child = fake::AddProcess(root + 1, root, "C:\\child.exe");
    child.sessionId = child.groupId = root;
    fake::Process& daemon = fake::AddProcess(root + 2, 7, "C:\\daemon.exe");
    daemon.sessionId = root;
    daemon.groupId = root + 2;
    daemon.endsWhenAsked = false;
    fake::Get().nextPid = root + 10; // later starts, above the tree's ids
}

class PoliteStopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager();
        fake::AddFile("C:\\alpha.exe", "C:\\alpha.exe");
        AppSettings alpha = test::App("alpha", "C:\\alpha.exe");
        alpha.stopTimeoutSeconds = 5;
        test::Add(alpha);
        AddTree(1000);
    }
    static AppEntry& Alpha() { return *appTable.entries[0]; }
    static Lines Last(std::size_t count) {
        const Lines all = test::LogMessages();
        return Lines(all.end() - static_cast<long>(count), all.end());
    }
};

TEST_F(PoliteStopTest, TheTreeIsAskedAndTheStopEndsWhenAllOfItHasEnded) {
    ExecuteLine("stop 0");
    // The group in one step, the daemon of the session by itself.
    EXPECT_EQ((Ids{1000}), fake::Get().askedGroups);
    EXPECT_EQ((Ids{1002}), fake::Get().asked);
    ExecuteLine("start 0");
    ExecuteLine("list");
    EXPECT_EQ("alpha is still stopping.", Last(6)[0]);
    EXPECT_EQ("   0: alpha [STOPPING]", Last(6)[3]);
    EXPECT_EQ("stopping", CollectStatus()[0].state);

    test::RunLoop([](int wait) {
        if (wait == 1)
            fake::EndProcess(1000); // the root ends; the daemon takes longer
        if (wait == 2)
            fake::EndProcess(1002);
        return wait < 3;
    });
    EXPECT_EQ("alpha stopped.", test::LastMessage());
    EXPECT_FALSE(Alpha().process);
    EXPECT_TRUE(fake::Get().killed.empty());
    // Until the limit or the root's end, then the daemon's end by its handle
    // (with the limit still running), then no limit again.
    EXPECT_EQ((std::vector<std::uint32_t>{5000, 5000 - kEventLoopPauseMs, port::kWaitForever}),
              fake::Get().waitLimits);
}

TEST_F(PoliteStopTest, TheTreeIsWatchedByHandlesAndTheListReadOnlyWhereTheyCannotTell) {
    fake::Get().listsRead = 0; // the start's reading, to find a running copy
    ExecuteLine("stop 0");
    // It joined the session after the ask, and cannot be opened.
    fake::Process& late = fake::AddProcess(1003, 7, "C:\\late.exe");
    late.sessionId = 1000;
    late.groupId = 1003;
    late.openable = false;
    int readingsWhileWatched = 0;
    test::RunLoop([&](int wait) {
        if (wait == 1)
            fake::EndProcess(1000);
        if (wait == 2) {
            readingsWhileWatched = fake::Get().listsRead;
            fake::EndProcess(1002);
        }
        if (wait == 22)
            fake::EndProcess(1003);
        return wait < 27;
    });
    EXPECT_EQ(1, readingsWhileWatched) << "the ask's reading only";
    // At the daemon's end, one a second while 1003 ran, one to see its end.
    EXPECT_EQ(4, fake::Get().listsRead);
    EXPECT_EQ("alpha stopped.", test::LastMessage());
}

TEST_F(PoliteStopTest, TheLimitOrASecondStopEndsTheTreeRestartWaitsForItAndQuitLeavesIt) {
    ExecuteLine("restart 0");
    test::RunPasses(2);
    EXPECT_EQ((Lines{"alpha did not stop within 5 s; ending its process tree.",
                     "Starting process alpha."}),
              Last(2));
    // Its group ends in one step: the child ended when asked, and 1001.
    EXPECT_EQ((Ids{1000, 1002}), fake::Get().killed) << "the child ended when asked";

    const std::uint32_t second = fake::PidOf(Alpha().process.Get());
    AddTree(second);
    ExecuteLine("stop 0");
    ExecuteLine("stop 0");
    EXPECT_EQ((Lines{"Terminating process alpha.", "Terminating process alpha."}), Last(2));
    EXPECT_FALSE(Alpha().process);

    ExecuteLine("start 0");
    const std::uint32_t third = fake::PidOf(Alpha().process.Get());
    AddTree(third);
    ExecuteLine("stop 0");
    ExecuteLine("quit");
    EXPECT_FALSE(RunningFlag);
    // The tree was asked already: quit leaves it to finish on its own.
    EXPECT_EQ("alpha is still stopping; it is left to end on its own.", test::LastMessage());
    EXPECT_TRUE(fake::FindProcess(third)->alive);
    EXPECT_EQ((Ids{1000, 1002, second, second + 2}), fake::Get().killed);
}

TEST_F(PoliteStopTest, LeftoversOfAnApplicationThatEndedAreEndedBeforeItStartsAgain) {
    Alpha().settings.restart.endLeftovers = true;
    fake::EndProcess(1000);
    OnAppExit(&waitTable, 1, &Alpha());
    EXPECT_EQ((Lines{"Ended 2 leftover processes of alpha.", "Starting process alpha."}), Last(2));
    EXPECT_EQ((Ids{1001, 1002}), fake::Get().killed);

    // A process that leads neither its group nor its session leaves nothing
    // of others behind.
    const std::uint32_t second = fake::PidOf(Alpha().process.Get());
    fake::AddProcess(second + 1, 7, "C:\\other.exe").sessionId = 7;
    fake::EndProcess(second);
    OnAppExit(&waitTable, 1, &Alpha());
    EXPECT_EQ("Starting process alpha.", test::LastMessage());
    EXPECT_TRUE(fake::FindProcess(second + 1)->alive);
}

} // namespace
