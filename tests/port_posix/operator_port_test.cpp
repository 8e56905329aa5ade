// The log file and the exit status of ended processes on the POSIX back end,
// against the real system (the log file's entries as the core writes them).
#include "console/log_file.h"
#include "port/console.h"
#include "port/file.h"
#include "port/posix/syscalls.h"
#include "port/process.h"
#include "port/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts `script` with /bin/sh and waits until it has ended.
port::Handle RunToEnd(const char* script) {
    port::Handle process = port::kNullHandle;
    const std::string parameters = std::string("-c '") + script + "'";
    EXPECT_TRUE(port::StartProgram("/bin/sh", parameters.c_str(), "/", &process))
        << port::LastError();
    EXPECT_EQ(0u, port::WaitAny(1, &process, 10000));
    return process;
}

TEST(LogFilePort, AppendsAtTheEndAfterATruncateAndIsNotInherited) {
    char pattern[] = "/tmp/zelk-port-log-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    const std::string dir = pattern;
    const std::string path = dir + "/manager.log";

    port::Handle file = port::OpenAppendFile(path.c_str());
    ASSERT_NE(port::kNullHandle, file);
    EXPECT_GT(file, 2);
    EXPECT_NE(0, ::fcntl(static_cast<int>(file), F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(port::AppendToFile(file, "first\n", 6));
    // What logrotate's copytruncate does: the next line starts the file anew.
    std::ofstream(path, std::ios::trunc).close();
    EXPECT_TRUE(port::AppendToFile(file, "second\n", 7));
    EXPECT_EQ("second\n", ReadFile(path));
    ::close(static_cast<int>(file));

    EXPECT_EQ(port::kNullHandle, port::OpenAppendFile(dir.c_str()));
    EXPECT_EQ(static_cast<std::uint32_t>(EISDIR), port::LastError());

    // Only a regular file: a device, and a FIFO at once, with or without
    // a reader (without O_NONBLOCK its open would wait for one for good).
    EXPECT_EQ(port::kNullHandle, port::OpenAppendFile("/dev/full"));
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(port::kNullHandle, port::OpenAppendFile(fifo.c_str()));
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_EQ(port::kNullHandle, port::OpenAppendFile(fifo.c_str()));
    ::close(reader);
    std::filesystem::remove_all(dir);
}

// The disk fills up in the middle of an entry, then has room again.
int writesToFail = 0;
ssize_t DiskFillingWrite(int fd, const void* bytes, size_t length) {
    if (writesToFail == 0)
        return port::posix::RealSystemCalls().write(fd, bytes, length);
    if (writesToFail-- == 2) // a short write, then nothing
        return port::posix::RealSystemCalls().write(fd, bytes, length / 2);
    errno = ENOSPC;
    return -1;
}

TEST(LogFilePort, AnEntryCutByAFullDiskIsFinishedBeforeTheNextOne) {
    char pattern[] = "/tmp/zelk-port-full-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    const std::string path = std::string(pattern) + "/manager.log";
    LogFile file;
    ASSERT_TRUE(OpenLogFile(file, path));
    EXPECT_EQ(LogFileWrite::Done, AppendLogEntry(file, "1", "first"));
    port::posix::sys.write = DiskFillingWrite;
    writesToFail = 2;
    EXPECT_EQ(LogFileWrite::FirstFailure, AppendLogEntry(file, "2", "second entry"));
    writesToFail = 1; // the rest of "second entry" cannot be written yet
    EXPECT_EQ(LogFileWrite::Failed, AppendLogEntry(file, "3", "third"));
    EXPECT_EQ(LogFileWrite::Done, AppendLogEntry(file, "4", "fourth"));
    writesToFail = 1; // a new episode is reported again
    EXPECT_EQ(LogFileWrite::FirstFailure, AppendLogEntry(file, "5", "fifth"));
    port::posix::RestoreSystemCalls();
    CloseLogFile(file);
    EXPECT_EQ("1 first\n2 second entry\n4 fourth\n", ReadFile(path));
    std::filesystem::remove_all(pattern);
}

TEST(ExitStatusPort, AChildsCodeIsReadWithoutReapingItAndNoOtherProcesssIs) {
    port::Handle exited = RunToEnd("exit 3");
    port::ExitStatus status{};
    ASSERT_TRUE(port::ReadExitStatus(exited, &status));
    EXPECT_FALSE(status.bySignal);
    EXPECT_EQ(3u, status.value);
    // Still there to read again: nothing was reaped.
    const std::uint32_t pid = port::ProcessIdOf(exited);
    EXPECT_EQ(0, ::access(("/proc/" + std::to_string(pid)).c_str(), F_OK));
    ASSERT_TRUE(port::ReadExitStatus(exited, &status));
    EXPECT_EQ(3u, status.value);
    port::Close(exited);

    port::Handle parent = port::OpenProcessFull(static_cast<std::uint32_t>(::getppid()));
    ASSERT_NE(port::kNullHandle, parent);
    EXPECT_FALSE(port::ReadExitStatus(parent, &status));
    port::Close(parent);
}

} // namespace
