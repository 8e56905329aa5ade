// Telling processes apart, against the real system: command lines as
// CommandLineToArgvW splits them, and start times.
#include "common/command_line_words.h"
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

} // namespace
