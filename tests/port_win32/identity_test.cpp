// Telling processes apart and holding them in job objects, against the real
// system: command lines as CommandLineToArgvW splits them, start times, and
// a job that holds a program and the child it starts.
#include "common/command_line_words.h"
#include "port/containment.h"
#include "port/identity.h"
#include "port/process.h"
#include "port/system.h"
#include "tests/port_win32/test_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace port_win32_test;

namespace {

std::vector<std::string> SystemSplit(const std::string& line) {
    const std::wstring wide(line.begin(), line.end());
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(wide.c_str(), &count);
    std::vector<std::string> result;
    for (int i = 0; words != nullptr && i < count; ++i)
        result.emplace_back(words[i], words[i] + std::wcslen(words[i]));
    ::LocalFree(words);
    return result;
}

TEST(CommandLineWords, SplitAsTheSystemSplits) {
    for (const char* line : {R"(x.exe a  b	c)", R"("C:\Program Files\x.exe" "a b" c)",
                             R"(x.exe a\\b c\)", R"(x.exe "a\"b" a\\"b c" a\\\"b)",
                             R"(x.exe "" x "" y)", R"(x.exe "a""b" a""b "open)", R"("C:\dir\" x)"})
        EXPECT_EQ(SystemSplit(line), SplitCommandLineWords(line, true)) << line;
}

TEST(ProcessArguments, AreThoseAStartedProgramWasGiven) {
    StartedProcess child = StartChild(0);
    ASSERT_NE(child.process, port::kNullHandle);
    std::vector<std::string> arguments;
    EXPECT_TRUE(port::ProcessArguments(child.processId, &arguments));
    EXPECT_EQ(std::vector<std::string>{"0"}, arguments);
    std::uint64_t childStart = 0, ownStart = 0, again = 0;
    EXPECT_TRUE(port::ProcessStartTime(child.processId, &childStart));
    EXPECT_TRUE(port::ProcessStartTime(::GetCurrentProcessId(), &ownStart));
    EXPECT_TRUE(port::ProcessStartTime(::GetCurrentProcessId(), &again));
    EXPECT_EQ(ownStart, again);
    EXPECT_LT(ownStart, childStart);
    EndStarted(child);
}

TEST(Containers, AJobHoldsAProgramAndWhatItStartsAndEndsThemAll) {
    ASSERT_TRUE(port::PrepareContainers());
    const std::string name =
        port::ContainerName(("port test " + std::to_string(::GetCurrentProcessId())).c_str());
    const port::Handle job = port::OpenContainer(name.c_str(), true);
    ASSERT_NE(job, port::kNullHandle);
    StartedProcess child;
    const std::string path = ChildPath();
    ASSERT_TRUE(port::StartProgram(path.c_str(), "1", nullptr, &child.process, port::kNullHandle,
                                   nullptr, job));
    child.processId = port::ProcessIdOf(child.process);
    const std::uint32_t grandchild = WaitForChildOf(child.processId, 10000);
    ASSERT_NE(grandchild, 0u);

    std::vector<std::uint32_t> ids;
    EXPECT_TRUE(port::ContainerProcessIds(job, &ids));
    EXPECT_EQ((std::vector<std::uint32_t>{child.processId, grandchild}), ids);
    bool populated = false;
    EXPECT_TRUE(port::ContainerPopulated(job, &populated) && populated);
    const port::Handle again = port::OpenContainer(name.c_str(), false);
    EXPECT_NE(again, port::kNullHandle) << "a later manager opens it by its name";
    port::CloseContainer(again);

    EXPECT_TRUE(port::EndContainer(job));
    EXPECT_EQ(::WaitForSingleObject(reinterpret_cast<HANDLE>(child.process), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(port::ContainerPopulated(job, &populated));
    EXPECT_FALSE(populated);
    EndById(grandchild);
    EndStarted(child);
    EXPECT_TRUE(port::RemoveContainer(job));
}

} // namespace
