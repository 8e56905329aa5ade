// The process functions of the POSIX back end when a system call fails: the
// failing call is put into the back end's system call table.
#include "port/console.h"
#include "port/posix/syscalls.h"
#include "port/process.h"
#include "port/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using port::posix::RealSystemCalls;
using port::posix::sys;

// What the injected calls do; reset by each test.
int openatError = 0;       // errno of every openat of a stat file; 0: none
std::set<int> interrupted; // descriptors whose first read was interrupted
int waitidInterruptions = 0;
pid_t spawned = 0;

int OpenatFailing(int directory, const char* path, int flags, mode_t mode) {
    const std::size_t length = std::strlen(path);
    if (openatError != 0 && length >= 5 && std::strcmp(path + length - 5, "/stat") == 0) {
        errno = openatError;
        return -1;
    }
    return RealSystemCalls().openat(directory, path, flags, mode);
}

ssize_t ReadInterruptedOnce(int fd, void* buffer, size_t size) {
    if (interrupted.insert(fd).second) {
        errno = EINTR;
        return -1;
    }
    return RealSystemCalls().read(fd, buffer, size);
}

int SpawnRecorded(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                  const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    const int result = RealSystemCalls().posix_spawn(pid, path, actions, attributes, argv, envp);
    spawned = result == 0 ? *pid : 0;
    return result;
}

int PidfdOpenOutOfDescriptors(pid_t, unsigned int) {
    errno = EMFILE;
    return -1;
}

int WaitidInterruptedTwice(idtype_t type, id_t id, siginfo_t* info, int options) {
    if (waitidInterruptions < 2) {
        ++waitidInterruptions;
        errno = EINTR;
        return -1;
    }
    return RealSystemCalls().waitid(type, id, info, options);
}

int KillFindsNoProcess(int pidfd, int signal, siginfo_t* info, unsigned int flags) {
    if (signal == SIGKILL) {
        errno = ESRCH;
        return -1;
    }
    return RealSystemCalls().pidfd_send_signal(pidfd, signal, info, flags);
}

class ProcessFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        openatError = 0;
        interrupted.clear();
        waitidInterruptions = 0;
        spawned = 0;
    }
    void TearDown() override { port::posix::RestoreSystemCalls(); }
};

// Our own row of the process list, with (0, 0, 0) when it is missing.
port::ProcessRecord OwnRow(const std::vector<port::ProcessRecord>& rows) {
    for (const port::ProcessRecord& row : rows)
        if (row.processId == static_cast<std::uint32_t>(::getpid()))
            return row;
    return port::ProcessRecord{0, 0, 0};
}

} // namespace

TEST_F(ProcessFaultTest, OutOfDescriptorsFailsTheListButAnEndedProcessDoesNot) {
    sys.openat = OpenatFailing;
    openatError = EMFILE;
    std::vector<port::ProcessRecord> rows;
    EXPECT_FALSE(port::ListProcesses(&rows)) << "EMFILE is not a process that ended";
    EXPECT_EQ(static_cast<std::uint32_t>(EMFILE), port::LastError());

    // Every process "ended" while the list was read: an empty list, no failure.
    openatError = ESRCH;
    EXPECT_TRUE(port::ListProcesses(&rows));
    EXPECT_TRUE(rows.empty());
}

TEST_F(ProcessFaultTest, InterruptedReadsAreRetried) {
    sys.read = ReadInterruptedOnce;
    std::vector<port::ProcessRecord> rows;
    ASSERT_TRUE(port::ListProcesses(&rows));
    const port::ProcessRecord own = OwnRow(rows);
    EXPECT_EQ(static_cast<std::uint32_t>(::getppid()), own.parentProcessId);
    EXPECT_EQ(static_cast<std::uint32_t>(::getsid(0)), own.sessionId);
    EXPECT_FALSE(interrupted.empty());
}

TEST_F(ProcessFaultTest, AStartWithoutAHandleEndsAndReapsTheChild) {
    sys.posix_spawn = SpawnRecorded;
    sys.pidfd_open = PidfdOpenOutOfDescriptors;
    sys.waitid = WaitidInterruptedTwice;
    port::Handle process = port::kNullHandle;
    EXPECT_FALSE(port::StartProgram("/bin/sleep", "30", nullptr, &process));
    EXPECT_EQ(static_cast<std::uint32_t>(EMFILE), port::LastError());
    EXPECT_EQ(port::kNullHandle, process);
    ASSERT_GT(spawned, 0) << "the spawn itself succeeded";
    EXPECT_EQ(2, waitidInterruptions) << "the reaping wait is retried";
    // Reaped: not even a zombie is left.
    EXPECT_EQ(-1, ::kill(spawned, 0));
    EXPECT_EQ(ESRCH, errno);
}

TEST_F(ProcessFaultTest, AProcessThatEndedBeforeItsKillIsNoFailure) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    port::Handle handle = port::OpenProcessForTermination(static_cast<std::uint32_t>(child));
    EXPECT_NE(port::kNullHandle, handle);
    sys.pidfd_send_signal = KillFindsNoProcess;
    EXPECT_TRUE(port::TerminateProcessHandle(handle, 0));
    port::posix::RestoreSystemCalls();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    if (handle != port::kNullHandle)
        port::Close(handle);
}
