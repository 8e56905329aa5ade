#include "supervisor/process_tree.h"

#include "console/line_editor.h"
#include "loop/event_loop.h"
#include "loop/wait_table.h"
#include "supervisor/app_entry.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Ids = std::vector<std::uint32_t>;

class ProcessTreeTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(100, 60); }
    void TearDown() override { EXPECT_EQ(0, fake::BadCloses()); }
};

TEST_F(ProcessTreeTest, DescendantsDieDepthFirstSiblingsInListOrderRootLast) {
    // 100 -> {110 -> {111, 112 -> 1121}, 120}, listed out of id order.
    fake::AddProcess(120, 100, "c");
    fake::AddProcess(112, 110, "c");
    fake::AddProcess(100, 1, "root");
    fake::AddProcess(1121, 112, "c");
    fake::AddProcess(110, 100, "c");
    fake::AddProcess(111, 110, "c");
    fake::AddProcess(200, 1, "bystander");
    KillProcessTree(100);
    EXPECT_EQ((Ids{120, 1121, 112, 111, 110, 100}), fake::Get().killed);
    EXPECT_TRUE(fake::FindProcess(200)->alive);
    EXPECT_TRUE(test::LogMessages().empty());
    EXPECT_EQ(0, fake::OpenProcessHandles());
}

TEST_F(ProcessTreeTest, TheListIsReadOnceForTheTreeAndOnceMoreToCheck) {
    fake::AddProcess(11, 7, "a");
    fake::AddProcess(12, 11, "b");
    fake::AddProcess(13, 12, "c");
    fake::AddProcess(14, 13, "d");
    KillProcessTree(11);
    EXPECT_EQ((Ids{14, 13, 12, 11}), fake::Get().killed);
    EXPECT_EQ(2, fake::Get().listsRead);
    EXPECT_EQ((Ids{11}), fake::Get().suspended) << "the tree is held still first";
}

TEST_F(ProcessTreeTest, ProcessesStartedDuringTheStopAreEndedToo) {
    // While the stop runs, the root starts a new child when one of its
    // children ends, and 102 starts a child just before its own end.
    fake::AddProcess(100, 7, "root");
    fake::AddProcess(101, 100, "worker");
    fake::AddProcess(102, 100, "forker");
    fake::Get().onTerminate = [](std::uint32_t pid) {
        if (pid == 101)
            fake::AddProcess(150, 100, "restarted worker");
        if (pid == 102)
            fake::AddProcess(160, 102, "late child");
    };
    KillProcessTree(100);
    // The root ends once its known tree has; what it started meanwhile after it.
    EXPECT_EQ((Ids{101, 102, 100, 150, 160}), fake::Get().killed);
    EXPECT_TRUE(test::LogMessages().empty());
}

// A root that leads a session ends with its group in one step, before the
// list is read; what is left of the session then, children first; nothing
// is signalled twice.
TEST_F(ProcessTreeTest, TheGroupEndsFirstThenTheRestOfTheSession) {
    auto member = [](std::uint32_t pid, std::uint32_t parent, std::uint32_t group) {
        fake::Process& p = fake::AddProcess(pid, parent, "p");
        p.sessionId = 100;
        p.groupId = group;
    };
    member(100, 7, 100);
    member(101, 100, 100); // a child in its group
    member(300, 7, 300);   // a daemon that left the group and the tree
    member(301, 300, 300); // its child
    fake::AddProcess(400, 7, "another session").sessionId = 400;
    KillProcessTree(100);
    EXPECT_EQ((Ids{100, 101, 301, 300}), fake::Get().killed);
    EXPECT_EQ((Ids{100}), fake::Get().endedGroups);
    EXPECT_TRUE(fake::Get().suspended.empty()) << "no freeze before the group's end";
    EXPECT_EQ(2, fake::Get().listsRead) << "a second reading after the one straggler";
    EXPECT_TRUE(fake::FindProcess(400)->alive);

    // With nothing outside its group, the list is read once.
    test::Reset(100, 60);
    member(100, 7, 100);
    member(101, 100, 100);
    KillProcessTree(100);
    EXPECT_EQ((Ids{100, 101}), fake::Get().killed);
    EXPECT_EQ(1, fake::Get().listsRead);

    // A root in the manager's own session takes nobody else with it.
    fake::Reset(100, 60);
    fake::AddProcess(1, 100, "the manager").sessionId = 100;
    fake::AddProcess(100, 7, "root").sessionId = 100;
    fake::AddProcess(300, 7, "the manager's terminal").sessionId = 100;
    KillProcessTree(100);
    EXPECT_EQ((Ids{100}), fake::Get().killed);
    EXPECT_TRUE(fake::FindProcess(1)->alive);
}

TEST_F(ProcessTreeTest, ParentCyclesAndSelfParentsAreNotFollowed) {
    // 10 and 11 name each other as parent; 0 names itself (the idle process).
    fake::AddProcess(0, 0, "idle");
    fake::AddProcess(10, 11, "x");
    fake::AddProcess(11, 10, "y");
    fake::AddProcess(12, 11, "z");
    KillProcessTree(10);
    EXPECT_EQ((Ids{12, 11, 10}), fake::Get().killed);

    test::Reset(100, 60);
    fake::AddProcess(0, 0, "idle");
    fake::AddProcess(5, 0, "system");
    KillProcessTree(0);
    EXPECT_EQ((Ids{5, 0}), fake::Get().killed) << "0 itself is not descended into again";
}

TEST_F(ProcessTreeTest, AnOrphanedGrandchildSurvives) {
    fake::AddProcess(100, 1, "root");
    fake::AddProcess(300, 250, "grandchild of an ended child");
    KillProcessTree(100);
    EXPECT_EQ((Ids{100}), fake::Get().killed);
    EXPECT_TRUE(fake::FindProcess(300)->alive);
}

TEST_F(ProcessTreeTest, EachFailureIsReportedAndTheWalkGoesOn) {
    fake::AddProcess(100, 1, "root");
    fake::AddProcess(101, 100, "other user's").killable = false;
    fake::AddProcess(102, 100, "stubborn").terminateFails = true;
    fake::AddProcess(103, 100, "fine");
    KillProcessTree(100);
    EXPECT_EQ((std::vector<std::string>{"Failed to open process with id: 101!",
                                        "Failed to kill process with id: 102!"}),
              test::LogMessages());
    EXPECT_EQ((Ids{103, 100}), fake::Get().killed);
    EXPECT_EQ(0, fake::OpenProcessHandles()) << "the handle of a failed kill is closed";
}

TEST_F(ProcessTreeTest, ListFailuresSkipTheLevel) {
    fake::AddProcess(100, 1, "root");
    fake::AddProcess(101, 100, "child");
    fake::Get().listFails = true;
    KillProcessTree(100);
    EXPECT_EQ((std::vector<std::string>{"Failed to get process list!"}), test::LogMessages());
    EXPECT_EQ((Ids{100}), fake::Get().killed);

    fake::Get().listFails = false;
    fake::Get().listGivesNoRows = true;
    fake::AddProcess(200, 1, "root2");
    KillProcessTree(200);
    EXPECT_EQ("Failed to get first entry in process list!", test::LastMessage());
}

TEST_F(ProcessTreeTest, AnUnreadableListStillEndsTheGroupOfTheRootsSession) {
    fake::AddProcess(100, 7, "root").sessionId = 100;
    fake::Process& child = fake::AddProcess(101, 100, "child");
    child.sessionId = 100;
    child.groupId = 100;
    fake::Get().listFails = true;
    KillProcessTree(100);
    EXPECT_EQ((std::vector<std::string>{"Failed to get process list!"}), test::LogMessages());
    EXPECT_EQ((Ids{100}), fake::Get().endedGroups);
    EXPECT_FALSE(fake::FindProcess(101)->alive);
}

TEST_F(ProcessTreeTest, AProcessThatEndedOnItsOwnIsNotAFailure) {
    KillProcess(4242);
    EXPECT_TRUE(test::LogMessages().empty());

    fake::AddProcess(100, 7, "root");
    fake::AddProcess(102, 100, "sibling");
    fake::AddProcess(101, 100, "ends while its sibling dies");
    fake::Get().onTerminate = [](std::uint32_t pid) {
        if (pid == 102)
            fake::EndProcess(101);
    };
    KillProcessTree(100);
    EXPECT_EQ((Ids{102, 100}), fake::Get().killed);
    EXPECT_TRUE(test::LogMessages().empty()) << test::LastMessage();
}

class StopTest : public ProcessTreeTest {
  protected:
    void SetUp() override {
        test::ResetManager();
        fake::AddFile("C:\\app.exe", "C:\\app.exe");
        fake::AddFile("C:\\other.exe", "C:\\other.exe");
    }
};

TEST_F(StopTest, StopRemovesTheRowFirstThenEndsTheTreeAndClosesTheHandle) {
    AppEntry* a = &test::Add(test::App("app", "C:\\app.exe"));
    AppEntry* b = &test::Add(test::App("other", "C:\\other.exe"));
    const std::uint32_t pid = fake::PidOf(a->process.Get());
    fake::AddProcess(5000, pid, "child");
    fake::AddProcess(5001, 5000, "grandchild");
    Dispatch(*a, AppEvent::StopAsked);
    EXPECT_FALSE(IsUp(*a));
    EXPECT_EQ((Ids{5001, 5000, pid}), fake::Get().killed);
    EXPECT_EQ("Terminating process app.", test::LastMessage());
    ASSERT_EQ(2, waitTable.count);
    EXPECT_EQ(b, waitTable.contexts[1]);
    EXPECT_EQ(1, fake::OpenProcessHandles());

    // The ended process is no longer watched, so nothing starts it again.
    test::RunPasses(1);
    EXPECT_EQ(2u, fake::Get().launches.size());
}

TEST_F(StopTest, ASupervisedDescendantIsEndedWithItsAncestorAndRestartedByItsOwnRow) {
    AppEntry* a = &test::Add(test::App("app", "C:\\app.exe"));
    // "other" runs as a child of app and is attached to.
    fake::AddProcess(6000, fake::PidOf(a->process.Get()), "C:\\other.exe");
    AppEntry* b = &test::Add(test::App("other", "C:\\other.exe"));
    ASSERT_EQ(6000u, fake::PidOf(b->process.Get()));
    Dispatch(*a, AppEvent::StopAsked);
    EXPECT_FALSE(fake::FindProcess(6000)->alive);
    test::RunPasses(1);
    EXPECT_TRUE(IsUp(*b));
    EXPECT_NE(6000u, fake::PidOf(b->process.Get()));
    EXPECT_EQ("Starting process other.", test::LastMessage());
}

TEST_F(StopTest, AHandleWithoutAProcessIdEndsNothing) {
    AppEntry* a = &test::Add(test::App("app", "C:\\app.exe"));
    const std::uint32_t pid = fake::PidOf(a->process.Get());
    fake::AddProcess(7000, 0, "a child of the idle process");
    fake::Get().processIdFails = true;
    Dispatch(*a, AppEvent::StopAsked);
    EXPECT_TRUE(fake::Get().killed.empty()) << "id 0 would name every system process";
    EXPECT_TRUE(fake::FindProcess(7000)->alive);
    EXPECT_TRUE(fake::FindProcess(pid)->alive);
    EXPECT_EQ((std::vector<std::string>{"Starting process app.", "Terminating process app.",
                                        "Failed to get process id of app!"}),
              test::LogMessages());
    EXPECT_FALSE(IsUp(*a));
    EXPECT_EQ(1, waitTable.count);
    EXPECT_EQ(0, fake::OpenProcessHandles());
}

} // namespace
