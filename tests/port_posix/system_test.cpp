// The single-instance guard in the user's runtime directory, sleeping and
// closing handles.
#include "port/console.h"
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

// A name of this test run's own: a claim is held until the process ends, so
// every call gives a new name.
std::string UniqueName(const char* base) {
    static int serial = 0;
    return std::string(base) + std::to_string(::getpid()) + "-" + std::to_string(++serial);
}

bool IsCloseOnExecLink(const std::string& target) {
    for (int fd = 3; fd < 1024; ++fd) {
        char link[4096];
        const std::string proc = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(proc.c_str(), link, sizeof link - 1);
        if (n <= 0 || std::string(link, static_cast<std::size_t>(n)) != target)
            continue;
        return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
    }
    return false;
}

// Points ZELKAPPMGR_RUNTIME_DIR into a directory of the test's own (and the
// session's variables elsewhere) and puts everything back afterwards.
class InstanceGuardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelk-guard-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        base = pattern;
        runtime = base + "/runtime";
        ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
        for (const char* name : kVariables) {
            const char* value = std::getenv(name);
            saved.push_back(value ? std::string(1, '=') + value : "");
            ::setenv(name, base.c_str(), 1);
        }
        Use(runtime);
    }
    void TearDown() override {
        port::posix::RestoreSystemCalls();
        for (std::size_t i = 0; i < saved.size(); ++i) {
            if (saved[i].empty())
                ::unsetenv(kVariables[i]);
            else
                ::setenv(kVariables[i], saved[i].c_str() + 1, 1);
        }
        ASSERT_EQ(std::system(("rm -rf '" + base + "'").c_str()), 0);
    }
    static void Use(const std::string& place) { ::setenv(kVariables[0], place.c_str(), 1); }
    static std::string Directory() {
        std::string problem;
        std::string path = port::posix::RuntimeDirectory(&problem);
        return path.empty() ? "problem: " + problem : path;
    }

    static constexpr const char* kVariables[] = {"ZELKAPPMGR_RUNTIME_DIR", "XDG_RUNTIME_DIR",
                                                 "TMPDIR"};
    std::string base, runtime;
    std::vector<std::string> saved;
};

TEST_F(InstanceGuardTest, ALockFileInTheRuntimeDirectoryIsHeldOnce) {
    const std::string name = UniqueName("ZelkPortGuardTest");
    EXPECT_EQ(Directory(), runtime);
    EXPECT_TRUE(port::CreateInstanceGuard(name.c_str()));
    EXPECT_TRUE(IsCloseOnExecLink(runtime + "/" + name + ".lock"))
        << "the lock is held by a close-on-exec descriptor";
    EXPECT_FALSE(port::CreateInstanceGuard(name.c_str()));
    EXPECT_EQ(port::LastError(), port::kErrorAlreadyExists);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(EWOULDBLOCK));
    const std::string other = name + "-other";
    EXPECT_TRUE(port::CreateInstanceGuard(other.c_str()));
}

TEST(RuntimeDirectory, TheDefaultPlaceIsOneNoOtherUserCanTakeFirst) {
    using port::posix::DefaultRuntimeDirectory;
    EXPECT_EQ("/run/zelkappmgr", DefaultRuntimeDirectory(0, true, false));
    EXPECT_EQ("/tmp/zelkappmgr-0", DefaultRuntimeDirectory(0, false, false)) << "no /run";
    EXPECT_EQ("/run/user/1000/zelkappmgr", DefaultRuntimeDirectory(1000, true, true));
    EXPECT_EQ("/tmp/zelkappmgr-1000", DefaultRuntimeDirectory(1000, true, false))
        << "no /run/user/1000 of its own";
}

TEST_F(InstanceGuardTest, ThePlaceComesFromTheUserIdOrTheVariableAlone) {
    const std::string made = base + "/made";
    const std::string open = base + "/open";
    const std::string link = base + "/link";
    ASSERT_EQ(::mkdir(open.c_str(), 0755), 0);
    ASSERT_EQ(::symlink(runtime.c_str(), link.c_str()), 0);
    // This machine's default place, whatever the session's variables say.
    struct stat run {};
    struct stat runUser {};
    const std::string runUserPath = "/run/user/" + std::to_string(::geteuid());
    const std::string mine = port::posix::DefaultRuntimeDirectory(
        ::geteuid(), ::stat("/run", &run) == 0 && S_ISDIR(run.st_mode),
        ::lstat(runUserPath.c_str(), &runUser) == 0 && S_ISDIR(runUser.st_mode) &&
            runUser.st_uid == ::geteuid() && (runUser.st_mode & 022) == 0);
    struct Case {
        std::string variable, place;
    };
    for (const Case& c : std::vector<Case>{
             {"", mine}, // XDG_RUNTIME_DIR and TMPDIR name another place
             {runtime + "//", runtime},
             {made, made},
             {"relative", "problem: ZELKAPPMGR_RUNTIME_DIR is not an absolute path: relative"},
             {open, "problem: " + open + " may be entered by others (mode 0755); it must be 0700"},
             {link + "/", "problem: " + link + " is not a directory but a link or a file"}}) {
        Use(c.variable);
        EXPECT_EQ(Directory(), c.place) << c.variable;
    }
    struct stat status {};
    ASSERT_EQ(::stat(made.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(open.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755u) << "a directory someone chose is never changed";
}

TEST_F(InstanceGuardTest, APlantedLockFileIsReplacedAndAnotherUsersDirectoryRefused) {
    const std::string name = UniqueName("ZelkPortGuardPlanted");
    const std::string lock = runtime + "/" + name + ".lock";
    ASSERT_EQ(::symlink("/dev/null", lock.c_str()), 0);
    EXPECT_TRUE(port::CreateInstanceGuard(name.c_str()));
    struct stat status {};
    ASSERT_EQ(::lstat(lock.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));

    const std::string other = base + "/other";
    ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
    if (::chown(other.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving a directory away needs root";
    Use(other);
    EXPECT_FALSE(port::CreateInstanceGuard(name.c_str()));
    EXPECT_EQ(port::LastErrorText(), other + " belongs to another user (uid 65534)");
}

int FailingLockFileOpen(int directory, const char* path, int flags, mode_t mode) {
    const std::size_t n = std::strlen(path);
    if (n > 5 && std::strcmp(path + n - 5, ".lock") == 0) {
        errno = EACCES;
        return -1;
    }
    return port::posix::RealSystemCalls().openat(directory, path, flags, mode);
}

int FailingFlock(int, int) {
    errno = ENOLCK;
    return -1;
}

TEST_F(InstanceGuardTest, AFailingOpenOrLockIsRefusedWithItsReason) {
    const std::string name = UniqueName("ZelkPortGuardFail");
    const std::string lock = runtime + "/" + name + ".lock";
    port::posix::sys.openat = FailingLockFileOpen;
    EXPECT_FALSE(port::CreateInstanceGuard(name.c_str()));
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(EACCES));
    EXPECT_EQ(port::LastErrorText(),
              "cannot open the lock file " + lock + ": " + std::strerror(EACCES));

    port::posix::RestoreSystemCalls();
    port::posix::sys.flock = FailingFlock;
    EXPECT_FALSE(port::CreateInstanceGuard(name.c_str()));
    EXPECT_EQ(port::LastErrorText(), "cannot lock " + lock + ": " + std::strerror(ENOLCK));

    port::posix::RestoreSystemCalls();
    EXPECT_TRUE(port::CreateInstanceGuard(name.c_str())) << "a refused claim held nothing";
}

double Elapsed(const timespec& from) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - from.tv_sec) * 1000.0 +
           static_cast<double>(now.tv_nsec - from.tv_nsec) / 1e6;
}

void OnAlarm(int) {}

TEST(System, ASleepInterruptedByASignalSleepsItsWholeTime) {
    struct sigaction action {};
    struct sigaction old {};
    action.sa_handler = OnAlarm; // no SA_RESTART: the sleep is interrupted
    ASSERT_EQ(::sigaction(SIGALRM, &action, &old), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 5000;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    ASSERT_EQ(::setitimer(ITIMER_REAL, &timer, nullptr), 0);
    port::SleepMs(40);
    const double slept = Elapsed(start);
    ::sigaction(SIGALRM, &old, nullptr);
    EXPECT_GE(slept, 40.0);
}

TEST(System, CloseLeavesStandardDescriptorsAndClosesOthers) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    const int low = ::dup2(pipeEnds[0], 200);
    ASSERT_EQ(low, 200);
    port::Close(port::kNullHandle);
    port::Close(2);
    EXPECT_NE(::fcntl(2, F_GETFD), -1) << "standard error stays open";
    port::Close(low);
    EXPECT_EQ(::fcntl(low, F_GETFD), -1) << "a handle of ours is closed";
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

} // namespace
