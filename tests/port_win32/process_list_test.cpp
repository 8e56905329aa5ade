// The process list of the Windows back end (its Toolhelp snapshot) over a
// real process tree.
#include "port/process.h"
#include "tests/port_win32/test_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

using namespace port_win32_test;

namespace {

constexpr std::uint32_t kAppearLimitMs = 10000;

TEST(ProcessList, HoldsThisProcessAndWhatRunsBesideItWithoutImages) {
    std::uint32_t parent = 0;
    EXPECT_TRUE(FindInList(::GetCurrentProcessId(), &parent));
    std::vector<port::ProcessRecord> rows;
    ASSERT_TRUE(port::ListProcesses(&rows));
    // This process and the services Wine or Windows run beside it.
    EXPECT_GT(rows.size(), 1u);
    for (const port::ProcessRecord& row : rows)
        EXPECT_TRUE(row.image.empty()) << row.processId;
}

TEST(ProcessList, RecordsTheParentOfEachGeneration) {
    StartedProcess child = StartChild(1);
    ASSERT_NE(child.process, port::kNullHandle);
    const std::uint32_t grandchild = WaitForChildOf(child.processId, kAppearLimitMs);
    EXPECT_NE(grandchild, 0u);

    std::uint32_t parent = 0;
    EXPECT_TRUE(FindInList(child.processId, &parent));
    EXPECT_EQ(parent, ::GetCurrentProcessId());
    if (grandchild != 0) {
        EXPECT_TRUE(FindInList(grandchild, &parent));
        EXPECT_EQ(parent, child.processId);
        EndById(grandchild);
    }
    EndStarted(child);
}

} // namespace
