// The Toolhelp snapshot of the Windows back end over a real process tree.
#include "port/process.h"
#include "tests/port_win32/test_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

using namespace port_win32_test;

namespace {

constexpr std::uint32_t kAppearLimitMs = 10000;

TEST(ProcessSnapshot, HoldsThisProcess) {
    std::uint32_t parent = 0;
    EXPECT_TRUE(FindInSnapshot(::GetCurrentProcessId(), &parent));
}

TEST(ProcessSnapshot, WalksFromTheFirstRecordToTheLast) {
    port::ProcessSnapshot* snapshot = port::OpenProcessSnapshot();
    ASSERT_NE(snapshot, nullptr);
    port::ProcessRecord record{0xDEAD, 0xBEEF};
    ASSERT_TRUE(port::FirstProcess(snapshot, &record));
    const port::ProcessRecord first = record;
    int records = 1;
    while (port::NextProcess(snapshot, &record))
        ++records;
    // This process and the services Wine or Windows run beside it.
    EXPECT_GT(records, 1);
    // Starting over gives the first record again.
    port::ProcessRecord again{};
    ASSERT_TRUE(port::FirstProcess(snapshot, &again));
    EXPECT_EQ(again.processId, first.processId);
    EXPECT_EQ(again.parentProcessId, first.parentProcessId);
    port::CloseProcessSnapshot(snapshot);
}

TEST(ProcessSnapshot, RecordsTheParentOfEachGeneration) {
    StartedProcess child = StartChild(1);
    ASSERT_NE(child.process, port::kNullHandle);
    const std::uint32_t grandchild = WaitForChildOf(child.processId, kAppearLimitMs);
    EXPECT_NE(grandchild, 0u);

    std::uint32_t parent = 0;
    EXPECT_TRUE(FindInSnapshot(child.processId, &parent));
    EXPECT_EQ(parent, ::GetCurrentProcessId());
    if (grandchild != 0) {
        EXPECT_TRUE(FindInSnapshot(grandchild, &parent));
        EXPECT_EQ(parent, child.processId);
        EndById(grandchild);
    }
    EndStarted(child);
}

} // namespace
