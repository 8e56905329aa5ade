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
#include <vector>

namespace {

using port::posix::RealSystemCalls;
using port::posix::sys;

int calls = 0;

// The first call fails with `firstError`; later ones do what the real call does.
int firstError = EINTR;
std::vector<int> pollLimits;

template <typename Result> bool FailFirst(Result* result) {
    if (++calls > 1)
        return false;
    errno = firstError;
    *result = -1;
    return true;
}

int FailingPoll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    int r;
    return FailFirst(&r) ? r : RealSystemCalls().poll(fds, count, timeoutMs);
}

int FailingWaitid(idtype_t type, id_t id, siginfo_t* info, int options) {
    int r;
    return FailFirst(&r) ? r : RealSystemCalls().waitid(type, id, info, options);
}

ssize_t FailingRead(int fd, void* buffer, size_t length) {
    ssize_t r;
    return FailFirst(&r) ? r : RealSystemCalls().read(fd, buffer, length);
}

ssize_t FailingWrite(int fd, const void* buffer, size_t length) {
    ssize_t r;
    return FailFirst(&r) ? r : RealSystemCalls().write(fd, buffer, length);
}

int FailingOpenat(int directory, const char* path, int flags, mode_t mode) {
    int r;
    return FailFirst(&r) ? r : RealSystemCalls().openat(directory, path, flags, mode);
}

// Fails its first call only after 60 ms, as a signal late in a wait would.
int SlowFailingPoll(struct pollfd* fds, nfds_t count, int timeoutMs) {
    pollLimits.push_back(timeoutMs);
    if (calls == 0)
        ::usleep(60000);
    int r;
    return FailFirst(&r) ? r : RealSystemCalls().poll(fds, count, timeoutMs);
}

class InterruptedCallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        calls = 0;
        firstError = EINTR;
        pollLimits.clear();
    }
    void TearDown() override { port::posix::RestoreSystemCalls(); }
};

TEST_F(InterruptedCallTest, WaitAnyWaitsOnAfterAnInterruptedPoll) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ASSERT_EQ(::write(ends[1], "x", 1), 1);
    const port::Handle handle = ends[0];
    sys.poll = FailingPoll;
    EXPECT_EQ(port::WaitAny(1, &handle), 0u);
    EXPECT_GE(calls, 2);
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST_F(InterruptedCallTest, TheReaperWaitsOnAfterAnInterruptedWaitid) {
    port::Handle child = port::kNullHandle;
    ASSERT_TRUE(port::StartProgram("/bin/true", "", "/", &child)) << port::LastError();
    const std::uint32_t pid = port::ProcessIdOf(child);
    ASSERT_NE(pid, 0u);
    ASSERT_EQ(port::WaitAny(1, &child), 0u);
    sys.waitid = FailingWaitid;
    port::Close(child);
    EXPECT_GE(calls, 2);
    EXPECT_NE(::access(("/proc/" + std::to_string(pid)).c_str(), F_OK), 0)
        << "the ended child was not reaped";
}

TEST_F(InterruptedCallTest, TheFdinfoReadIsRetried) {
    const port::Handle self = port::OpenProcessFull(static_cast<std::uint32_t>(::getpid()));
    ASSERT_NE(self, port::kNullHandle);
    sys.read = FailingRead;
    EXPECT_EQ(port::posix::FdinfoPid(static_cast<int>(self)), ::getpid());
    EXPECT_GE(calls, 2);
    port::posix::RestoreSystemCalls();
    port::Close(self);
}

// The wrappers make a call again after EINTR, and only after EINTR; a poll
// waits on for what is left of its time.
TEST_F(InterruptedCallTest, TheWrappersRetryOnlyInterruptedCalls) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    char byte = 0;
    struct Case {
        int error;
        int calls;   // the calls made
        bool failed; // the wrapper reports the failure
    };
    for (const Case c : {Case{EINTR, 2, false}, Case{EIO, 1, true}}) {
        SCOPED_TRACE(c.error);
        firstError = c.error;
        calls = 0;
        sys.write = FailingWrite;
        EXPECT_EQ(c.failed ? -1 : 1, port::posix::WriteNoIntr(ends[1], "x", 1));
        EXPECT_EQ(c.calls, calls);
        if (c.failed) {
            ASSERT_EQ(1, ::write(ends[1], "x", 1));
        }
        calls = 0;
        sys.read = FailingRead;
        EXPECT_EQ(c.failed ? -1 : 1, port::posix::ReadNoIntr(ends[0], &byte, 1));
        EXPECT_EQ(c.calls, calls);
        if (c.failed) {
            ASSERT_EQ(1, ::read(ends[0], &byte, 1));
        }
        calls = 0;
        sys.openat = FailingOpenat;
        const int fd =
            port::posix::OpenatNoIntr(AT_FDCWD, "/proc/self/stat", O_RDONLY | O_CLOEXEC, 0);
        EXPECT_EQ(c.failed, fd < 0);
        EXPECT_EQ(c.calls, calls);
        if (fd >= 0)
            ::close(fd);
        port::posix::RestoreSystemCalls();
    }

    calls = 0;
    firstError = EINTR;
    sys.poll = SlowFailingPoll;
    struct pollfd p {
        ends[0], POLLIN, 0
    };
    EXPECT_EQ(0, port::posix::PollNoIntr(&p, 1, 100)); // nothing to read: it times out
    ASSERT_EQ(2u, pollLimits.size());
    EXPECT_EQ(100, pollLimits[0]);
    EXPECT_LE(pollLimits[1], 40) << "the second wait is for what was left";
    ::close(ends[0]);
    ::close(ends[1]);
}

} // namespace
