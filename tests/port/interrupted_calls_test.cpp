// Every read or wait of the back end that a signal can interrupt is retried:
// the system call table makes the first such call fail with EINTR.
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/process.h"
#include "port/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using port::posix::RealSystemCalls;
using port::posix::sys;

int calls = 0;

int InterruptedPoll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    if (++calls == 1) {
        errno = EINTR;
        return -1;
    }
    return RealSystemCalls().poll(fds, count, timeoutMs);
}

int InterruptedWaitid(idtype_t type, id_t id, siginfo_t* info, int options) {
    if (++calls == 1) {
        errno = EINTR;
        return -1;
    }
    return RealSystemCalls().waitid(type, id, info, options);
}

ssize_t InterruptedRead(int fd, void* buffer, size_t length) {
    if (++calls == 1) {
        errno = EINTR;
        return -1;
    }
    return RealSystemCalls().read(fd, buffer, length);
}

class InterruptedCallTest : public ::testing::Test {
  protected:
    void SetUp() override { calls = 0; }
    void TearDown() override { port::posix::RestoreSystemCalls(); }
};

TEST_F(InterruptedCallTest, WaitAnyWaitsOnAfterAnInterruptedPoll) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ASSERT_EQ(::write(ends[1], "x", 1), 1);
    const port::Handle handle = ends[0];
    sys.poll = InterruptedPoll;
    EXPECT_EQ(port::WaitAny(1, &handle), 0u);
    EXPECT_GE(calls, 2);
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST_F(InterruptedCallTest, TheReaperWaitsOnAfterAnInterruptedWaitid) {
    port::Handle child = port::kNullHandle;
    std::uint32_t error = 0;
    ASSERT_TRUE(port::StartProgram("/bin/true", "", "/", &child, &error)) << error;
    const std::uint32_t pid = port::ProcessIdOf(child);
    ASSERT_NE(pid, 0u);
    ASSERT_EQ(port::WaitAny(1, &child), 0u);
    sys.waitid = InterruptedWaitid;
    port::Close(child);
    EXPECT_GE(calls, 2);
    EXPECT_NE(::access(("/proc/" + std::to_string(pid)).c_str(), F_OK), 0)
        << "the ended child was not reaped";
}

TEST_F(InterruptedCallTest, TheFdinfoReadIsRetried) {
    const port::Handle self = port::OpenProcessFull(static_cast<std::uint32_t>(::getpid()));
    ASSERT_NE(self, port::kNullHandle);
    sys.read = InterruptedRead;
    EXPECT_EQ(port::posix::FdinfoPid(static_cast<int>(self)), ::getpid());
    EXPECT_GE(calls, 2);
    port::posix::RestoreSystemCalls();
    port::Close(self);
}

} // namespace
