// The process functions of the Windows back end against real processes.
#include "port/console.h"
#include "port/process.h"
#include "port/system.h"
#include "tests/port_win32/test_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace port_win32_test;

namespace {

constexpr std::uint32_t kKilledExitCode = 0xFFFFFFFFu;
constexpr std::uint32_t kAppearLimitMs = 10000;

TEST(CanonicalPath, NamesAnExistingFileAndFailsForAMissingOne) {
    const std::string own = OwnPath();
    std::string out;
    ASSERT_TRUE(port::CanonicalPath(own.c_str(), &out));
    EXPECT_TRUE(SameFile(out, own)) << out << " vs " << own;
    // The short form is its own short form.
    std::string again;
    ASSERT_TRUE(port::CanonicalPath(out.c_str(), &again));
    EXPECT_EQ(again, out);
    const std::string missing = DirectoryOf(OwnPath()) + "\\no_such_file_here.exe";
    EXPECT_FALSE(port::CanonicalPath(missing.c_str(), &out));
}

TEST(StartProgram, ReportsTheErrorOfAMissingFile) {
    const std::string missing = DirectoryOf(OwnPath()) + "\\no_such_program.exe";
    port::Handle process = 12345;
    EXPECT_FALSE(port::StartProgram(missing.c_str(), "", nullptr, &process));
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(process, port::kNullHandle);
}

TEST(ListProcesses, ListsThisProcessWithItsImageAndParent) {
    std::vector<port::ProcessRecord> rows;
    ASSERT_TRUE(port::ListProcesses(&rows, true));
    const auto self = std::find_if(rows.begin(), rows.end(), [](const port::ProcessRecord& row) {
        return row.processId == ::GetCurrentProcessId();
    });
    ASSERT_NE(self, rows.end());
    EXPECT_TRUE(SameFile(self->image, OwnPath())) << self->image;
    std::uint32_t parent = 0;
    ASSERT_TRUE(FindInList(::GetCurrentProcessId(), &parent));
    EXPECT_EQ(self->parentProcessId, parent) << "the parent as the snapshot has it";
}

TEST(ProcessImageName, NamesThisProgram) {
    port::Handle self = port::OpenProcessFull(::GetCurrentProcessId());
    ASSERT_NE(self, port::kNullHandle);
    std::string image;
    ASSERT_TRUE(port::ProcessImageName(self, &image));
    EXPECT_TRUE(SameFile(image, OwnPath())) << image;
    port::Close(self);
}

TEST(ProcessImageById, NamesThisProgramInItsShortForm) {
    EXPECT_EQ(port::CurrentProcessId(), ::GetCurrentProcessId());
    std::string image;
    ASSERT_TRUE(port::ProcessImageById(port::CurrentProcessId(), &image));
    std::string expected;
    ASSERT_TRUE(port::CanonicalPath(OwnPath().c_str(), &expected));
    EXPECT_EQ(_stricmp(image.c_str(), expected.c_str()), 0) << image << " " << expected;
}

TEST(OpenProcessForTermination, AnIdOfNoProcessIsNoProcess) {
    // Ids are multiples of 4, and nothing runs under this one.
    EXPECT_EQ(port::OpenProcessForTermination(0x7FFFFFFCu), port::kNullHandle);
    EXPECT_EQ(port::kErrorNoProcess, port::LastError());
}

TEST(ProcessIdOf, IsZeroForANullHandle) {
    EXPECT_EQ(port::ProcessIdOf(port::kNullHandle), 0u);
}

// Each test starts one child program through the shell and ends it afterwards.
class StartedChild : public ::testing::Test {
  protected:
    void SetUp() override {
        child_ = StartChild(0);
        ASSERT_NE(child_.process, port::kNullHandle);
    }
    void TearDown() override { EndStarted(child_); }

    StartedProcess child_;
};

TEST_F(StartedChild, HasAnIdOfItsOwn) {
    const std::uint32_t id = port::ProcessIdOf(child_.process);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, ::GetCurrentProcessId());
    EXPECT_EQ(id, child_.processId);
}

TEST_F(StartedChild, IsListed) {
    std::vector<port::ProcessRecord> rows;
    ASSERT_TRUE(port::ListProcesses(&rows, true));
    EXPECT_NE(std::find_if(rows.begin(), rows.end(),
                           [this](const port::ProcessRecord& row) {
                               return row.processId == child_.processId;
                           }),
              rows.end());
}

TEST(ProcessImageName, NamesAStartedProgram) {
    // A process has a module list only once it runs; a child that has started
    // a child of its own is surely that far.
    StartedProcess child = StartChild(1);
    ASSERT_NE(child.process, port::kNullHandle);
    const std::uint32_t grandchild = WaitForChildOf(child.processId, kAppearLimitMs);
    if (grandchild == 0) {
        EndStarted(child);
        FAIL() << "the child program started no child of its own";
    }

    port::Handle opened = port::OpenProcessFull(child.processId);
    EXPECT_NE(opened, port::kNullHandle);
    std::string image;
    EXPECT_TRUE(port::ProcessImageName(opened, &image));
    EXPECT_TRUE(SameFile(image, ChildPath())) << image;
    port::Close(opened);

    EndById(grandchild);
    EndStarted(child);
}

TEST_F(StartedChild, IsInTheSnapshotWithThisProcessAsParent) {
    std::uint32_t parent = 0;
    ASSERT_TRUE(FindInList(child_.processId, &parent));
    EXPECT_EQ(parent, ::GetCurrentProcessId());
}

TEST_F(StartedChild, EndsWithTheGivenExitCodeWhenTerminated) {
    port::Handle killer = port::OpenProcessForTermination(child_.processId);
    ASSERT_NE(killer, port::kNullHandle);
    EXPECT_TRUE(port::TerminateProcessHandle(killer, kKilledExitCode));
    port::Close(killer);

    ASSERT_EQ(port::WaitAny(1, &child_.process), 0u);
    DWORD exitCode = 0;
    ASSERT_TRUE(::GetExitCodeProcess(reinterpret_cast<HANDLE>(child_.process), &exitCode));
    EXPECT_EQ(exitCode, kKilledExitCode);
}

TEST_F(StartedChild, TerminationHandleCannotWait) {
    // Opened for termination only: waiting on it is refused.
    port::Handle killer = port::OpenProcessForTermination(child_.processId);
    ASSERT_NE(killer, port::kNullHandle);
    EXPECT_EQ(port::WaitAny(1, &killer), port::kWaitFailed);
    port::Close(killer);
}

TEST(WaitAny, ReportsTheLowestSignalledRowAndEveryReadyOne) {
    StartedProcess first = StartChild(0);
    StartedProcess second = StartChild(0);
    StartedProcess third = StartChild(0);
    ASSERT_NE(first.process, port::kNullHandle);
    ASSERT_NE(second.process, port::kNullHandle);
    ASSERT_NE(third.process, port::kNullHandle);
    port::Handle rows[3] = {first.process, second.process, third.process};
    bool ready[3] = {};

    ASSERT_TRUE(::TerminateProcess(reinterpret_cast<HANDLE>(second.process), 1));
    EXPECT_EQ(port::WaitAny(3, rows, port::kWaitForever, ready), 1u);
    EXPECT_FALSE(ready[0] || !ready[1] || ready[2]);

    ASSERT_TRUE(::TerminateProcess(reinterpret_cast<HANDLE>(third.process), 1));
    ASSERT_TRUE(::TerminateProcess(reinterpret_cast<HANDLE>(first.process), 1));
    // All have ended now: the lowest row wins, and all three are ready.
    ASSERT_EQ(::WaitForSingleObject(reinterpret_cast<HANDLE>(third.process), 10000), WAIT_OBJECT_0);
    ASSERT_EQ(::WaitForSingleObject(reinterpret_cast<HANDLE>(first.process), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(port::WaitAny(3, rows, port::kWaitForever, ready), 0u);
    EXPECT_TRUE(ready[0] && ready[1] && ready[2]);

    EndStarted(first);
    EndStarted(second);
    EndStarted(third);
}

TEST(WaitAny, FailsOnANullHandle) {
    const port::Handle rows[1] = {port::kNullHandle};
    EXPECT_EQ(port::WaitAny(1, rows), port::kWaitFailed);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(OpenProcess, FailsForAnIdThatIsNotAProcess) {
    // Process ids are multiples of four; this one can never name a process.
    EXPECT_EQ(port::OpenProcessFull(0xFFFFFFF1u), port::kNullHandle);
    EXPECT_EQ(port::OpenProcessForTermination(0xFFFFFFF1u), port::kNullHandle);
}

} // namespace
