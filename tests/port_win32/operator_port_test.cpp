// The log file, the exit code of an ended process and waits with a time
// limit on the Windows back end.
#include "port/file.h"
#include "port/process.h"
#include "port/system.h"
#include "test_support.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using port_win32_test::StartChild;
using port_win32_test::StartedProcess;

TEST(LogFilePort, IsNotInheritedAndMayBeDeletedWhileOpen) {
    char dir[MAX_PATH];
    ASSERT_NE(0u, ::GetTempPathA(MAX_PATH, dir));
    const std::string path =
        std::string(dir) + "zelk-port-log-" + std::to_string(::GetCurrentProcessId()) + ".log";
    ::DeleteFileA(path.c_str());

    port::Handle file = port::OpenAppendFile(path.c_str());
    ASSERT_NE(port::kNullHandle, file);
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(file), &flags));
    EXPECT_EQ(0u, flags & HANDLE_FLAG_INHERIT);
    EXPECT_TRUE(port::AppendToFile(file, "one\r\n", 5));
    // Shared for deleting: log rotation may remove the file while it is open.
    EXPECT_TRUE(::DeleteFileA(path.c_str()));
    port::Close(file);

    EXPECT_EQ(port::kNullHandle, port::OpenAppendFile(dir));
}

TEST(ExitStatusPort, AStatusCodeIsReadAsTheExitCodeAfterATimedWait) {
    StartedProcess child = StartChild(0);
    ASSERT_NE(port::kNullHandle, child.process);
    EXPECT_EQ(port::kWaitTimedOut, port::WaitAny(1, &child.process, 50));
    port::ExitStatus status{};
    EXPECT_FALSE(port::ReadExitStatus(child.process, &status)); // still running
    ASSERT_TRUE(port::TerminateProcessHandle(child.process, 0xC0000005u));
    EXPECT_EQ(0u, port::WaitAny(1, &child.process, 10000));
    ASSERT_TRUE(port::ReadExitStatus(child.process, &status));
    EXPECT_FALSE(status.bySignal);
    EXPECT_EQ(0xC0000005u, status.value);
    port::Close(child.process);
}

} // namespace
