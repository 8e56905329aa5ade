// The process functions of the POSIX back end against real processes.
#include "port/console.h"
#include "port/process.h"
#include "port/system.h"
#include "test_hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kProbe = ZELK_PORT_PROBE;

std::string RealPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    std::string result = resolved ? resolved : "";
    std::free(resolved);
    return result;
}

bool ProcessEntryExists(std::uint32_t pid) {
    return ::access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The probe's report, line by line: key -> values in order.
std::multimap<std::string, std::string> ParseReport(const std::string& text) {
    std::multimap<std::string, std::string> report;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        if (space == std::string::npos)
            report.emplace(line, "");
        else
            report.emplace(line.substr(0, space), line.substr(space + 1));
    }
    return report;
}

std::vector<std::string> Values(const std::multimap<std::string, std::string>& report,
                                const std::string& key) {
    std::vector<std::string> values;
    auto range = report.equal_range(key);
    for (auto it = range.first; it != range.second; ++it)
        values.push_back(it->second);
    return values;
}

class ProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelk-port-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // Starts the probe and waits for it to end; returns its report.
    std::multimap<std::string, std::string>
    RunProbe(const std::string& parameters, const char* directory, const char* file = kProbe) {
        port::Handle process = port::kNullHandle;
        EXPECT_TRUE(port::StartProgram(file, parameters.c_str(), directory, &process))
            << "error " << port::LastError();
        if (process == port::kNullHandle)
            return {};
        EXPECT_GE(process, 3);
        const std::uint32_t pid = port::ProcessIdOf(process);
        EXPECT_NE(pid, 0u);
        EXPECT_EQ(port::WaitAny(1, &process), 0u);
        port::Close(process);
        EXPECT_FALSE(ProcessEntryExists(pid)) << "the ended child was not reaped";
        return ParseReport(ReadFile(dir_ + "/report"));
    }

    std::string dir_;
};

} // namespace

TEST_F(ProcessTest, StartProgramSplitsParametersAndSetsUpTheChild) {
    ASSERT_EQ(::mkdir((dir_ + "/work").c_str(), 0700), 0);
    // Descriptors the child must not inherit: one of ours without
    // close-on-exec, a pidfd and the instance guard's socket.
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    port::Handle self = port::OpenProcessFull(static_cast<std::uint32_t>(::getpid()));
    ASSERT_NE(self, port::kNullHandle);
    static int serial = 0;
    const std::string guardName =
        "ZelkPortProbeGuard" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    const char* place = std::getenv("ZELKAPPMGR_RUNTIME_DIR");
    const std::string saved = place != nullptr ? place : "";
    ::setenv("ZELKAPPMGR_RUNTIME_DIR", dir_.c_str(), 1); // not the user's own place
    ASSERT_TRUE(port::CreateInstanceGuard(guardName.c_str()));
    if (place != nullptr)
        ::setenv("ZELKAPPMGR_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("ZELKAPPMGR_RUNTIME_DIR");
    // Signal state the child must not inherit.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction oldUsr1 {};
    ASSERT_EQ(::sigaction(SIGUSR1, &ignore, &oldUsr1), 0);
    sigset_t block, oldMask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR2);
    ASSERT_EQ(::sigprocmask(SIG_BLOCK, &block, &oldMask), 0);

    const std::string out = dir_ + "/report";
    auto report = RunProbe(out + R"( plain 'two words' "say \"hi\"" back\ slash '' last)",
                           (dir_ + "/work").c_str());

    ::sigprocmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGUSR1, &oldUsr1, nullptr);
    ::close(leaked);
    port::Close(self);

    EXPECT_EQ(Values(report, "arg"),
              (std::vector<std::string>{kProbe, out, "plain", "two words", "say \"hi\"",
                                        "back slash", "", "last"}));
    EXPECT_EQ(Values(report, "cwd"), (std::vector<std::string>{RealPath(dir_ + "/work")}));
    EXPECT_EQ(Values(report, "fd"),
              (std::vector<std::string>{"0 /dev/null", "1 /dev/null", "2 /dev/null"}));
    EXPECT_EQ(Values(report, "leader"), (std::vector<std::string>{"1"}));
    ASSERT_EQ(Values(report, "sigblk").size(), 1u);
    EXPECT_EQ(std::stoull(Values(report, "sigblk")[0], nullptr, 16), 0u);
    ASSERT_EQ(Values(report, "sigign").size(), 1u);
    const unsigned long long ignored = std::stoull(Values(report, "sigign")[0], nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGUSR1 - 1)), 0u) << "SIGUSR1 still ignored in the child";
}

TEST_F(ProcessTest, EmptyDirectoryMeansRoot) {
    auto report = RunProbe(dir_ + "/report", "");
    EXPECT_EQ(Values(report, "cwd"), (std::vector<std::string>{"/"}));
}

TEST_F(ProcessTest, NoDirectoryKeepsOurs) {
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    auto report = RunProbe(dir_ + "/report", nullptr);
    EXPECT_EQ(Values(report, "cwd"), (std::vector<std::string>{cwd}));
    EXPECT_EQ(Values(report, "arg").size(), 2u);
}

TEST_F(ProcessTest, RelativeFileIsTakenFromOurDirectory) {
    ASSERT_EQ(::mkdir((dir_ + "/bin").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(kProbe, (dir_ + "/bin/probe").c_str()), 0);
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
    // As the core calls it: the configured path and the part before its last '/'.
    auto report = RunProbe(dir_ + "/report", "bin", "bin/probe");
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(Values(report, "cwd"), (std::vector<std::string>{RealPath(dir_ + "/bin")}));
    ASSERT_FALSE(Values(report, "arg").empty());
    EXPECT_EQ(Values(report, "arg")[0], "bin/probe");
}

TEST_F(ProcessTest, FailingStartReportsErrno) {
    port::Handle process = 12345;
    EXPECT_FALSE(port::StartProgram((dir_ + "/missing").c_str(), "", dir_.c_str(), &process));
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(process, port::kNullHandle);

    EXPECT_FALSE(port::StartProgram(kProbe, "x", (dir_ + "/no-such-directory").c_str(), &process));
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ENOENT));

    const std::string plain = dir_ + "/not-executable";
    std::ofstream(plain) << "data\n";
    ASSERT_EQ(::chmod(plain.c_str(), 0644), 0);
    EXPECT_FALSE(port::StartProgram(plain.c_str(), "", dir_.c_str(), &process));
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(EACCES));
    EXPECT_EQ(process, port::kNullHandle);
}

TEST_F(ProcessTest, HandleOfARunningChild) {
    port::Handle child = port::kNullHandle;
    ASSERT_TRUE(port::StartProgram("/bin/sleep", "60", "/bin", &child));
    const std::uint32_t pid = port::ProcessIdOf(child);
    ASSERT_NE(pid, 0u);

    std::string image;
    ASSERT_TRUE(port::ProcessImageName(child, &image));
    EXPECT_EQ(image, RealPath("/bin/sleep"));

    // The process list shows it, with us as its parent, in id order; with
    // images, also what it runs.
    for (const bool images : {false, true}) {
        SCOPED_TRACE(images ? "with images" : "without images");
        std::vector<port::ProcessRecord> rows;
        ASSERT_TRUE(port::ListProcesses(&rows, images));
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [pid](const auto& r) { return r.processId == pid; });
        ASSERT_NE(row, rows.end());
        EXPECT_EQ(row->parentProcessId, static_cast<std::uint32_t>(::getpid()));
        EXPECT_EQ(row->image, images ? RealPath("/bin/sleep") : std::string());
        EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
            return a.processId < b.processId;
        }));
    }

    // A second handle, as attaching opens one.
    port::Handle full = port::OpenProcessFull(pid);
    ASSERT_NE(full, port::kNullHandle);
    EXPECT_EQ(port::ProcessIdOf(full), pid);
    std::string fullImage;
    EXPECT_TRUE(port::ProcessImageName(full, &fullImage));
    EXPECT_EQ(fullImage, image);

    // Ending it as "stop" does.
    port::Handle killer = port::OpenProcessForTermination(pid);
    ASSERT_NE(killer, port::kNullHandle);
    EXPECT_TRUE(port::TerminateProcessHandle(killer, 0xFFFFFFFFu));
    port::Close(killer);
    EXPECT_EQ(port::WaitAny(1, &child), 0u);

    // Ended, not reaped while handles remain: the pid still answers.
    EXPECT_EQ(port::ProcessIdOf(child), pid);
    EXPECT_FALSE(port::ProcessImageName(child, &image));
    port::Close(full);
    EXPECT_TRUE(ProcessEntryExists(pid)) << "reaped while the core still held a handle";
    EXPECT_EQ(port::posix::PendingReapsForTesting(), 0u) << "the other handle reaps it";
    port::Close(child);
    EXPECT_FALSE(ProcessEntryExists(pid)) << "not reaped after the last handle closed";
    EXPECT_EQ(port::posix::PendingReapsForTesting(), 0u);
}

TEST_F(ProcessTest, AgeOfAProcessCountsFromItsStart) {
    port::Handle self = port::OpenProcessFull(static_cast<std::uint32_t>(::getpid()));
    ASSERT_NE(self, port::kNullHandle);
    ::usleep(50000); // the test program has run a while before the child starts
    port::Handle child = port::kNullHandle;
    ASSERT_TRUE(port::StartProgram("/bin/sleep", "60", "/", &child));
    const std::uint64_t selfAge = port::ProcessAgeMs(self);
    const std::uint64_t childAge = port::ProcessAgeMs(child);
    EXPECT_GT(selfAge, childAge);
    EXPECT_LT(selfAge, 24u * 3600u * 1000u);
    EXPECT_EQ(0u, port::ProcessAgeMs(port::kNullHandle));
    port::TerminateProcessHandle(child, 1);
    port::Close(child);
    port::Close(self);
}

TEST_F(ProcessTest, ChildClosedBeforeItDiedIsReapedByALaterWait) {
    port::Handle first = port::kNullHandle;
    ASSERT_TRUE(port::StartProgram("/bin/sleep", "60", "/", &first));
    const std::uint32_t firstPid = port::ProcessIdOf(first);
    ASSERT_NE(firstPid, 0u);
    port::Close(first); // still running: kept for the reaper
    EXPECT_EQ(port::posix::PendingReapsForTesting(), 1u);
    ASSERT_EQ(::kill(static_cast<pid_t>(firstPid), SIGKILL), 0);

    port::Handle second = port::kNullHandle;
    ASSERT_TRUE(port::StartProgram("/bin/sleep", "0.3", "/", &second));
    // The first child's end is not reported; the wait goes on until the second ends.
    EXPECT_EQ(port::WaitAny(1, &second), 0u);
    EXPECT_EQ(port::posix::PendingReapsForTesting(), 0u);
    EXPECT_FALSE(ProcessEntryExists(firstPid));
    const std::uint32_t secondPid = port::ProcessIdOf(second);
    port::Close(second);
    EXPECT_FALSE(ProcessEntryExists(secondPid));
}

TEST_F(ProcessTest, WaitReportsTheLowestEndedRowAndEveryEndedOne) {
    port::Handle rows[3] = {};
    ASSERT_TRUE(port::StartProgram("/bin/sleep", "60", "/", &rows[0]));
    ASSERT_TRUE(port::StartProgram("/bin/sleep", "0.1", "/", &rows[1]));
    ASSERT_TRUE(port::StartProgram("/bin/sleep", "0.1", "/", &rows[2]));
    // Once both short ones have ended, row 1 comes first.
    EXPECT_EQ(port::WaitAny(1, &rows[2]), 0u);
    EXPECT_EQ(port::WaitAny(1, &rows[1]), 0u);
    bool ready[3] = {true, false, false};
    EXPECT_EQ(port::WaitAny(3, rows, port::kWaitForever, ready), 1u);
    EXPECT_FALSE(ready[0]);
    EXPECT_TRUE(ready[1] && ready[2]);
    EXPECT_EQ(port::WaitAny(2, rows + 1), 0u);
    port::Handle killer = port::OpenProcessForTermination(port::ProcessIdOf(rows[0]));
    ASSERT_NE(killer, port::kNullHandle);
    EXPECT_TRUE(port::TerminateProcessHandle(killer, 0));
    port::Close(killer);
    EXPECT_EQ(port::WaitAny(1, &rows[0]), 0u);
    EXPECT_EQ(port::WaitAny(3, rows), 0u);
    std::uint32_t pids[3];
    for (int i = 0; i < 3; ++i)
        pids[i] = port::ProcessIdOf(rows[i]);
    for (int i = 0; i < 3; ++i) {
        port::Close(rows[i]);
        EXPECT_FALSE(ProcessEntryExists(pids[i]));
    }
}

TEST(Process, WaitOnAnInvalidHandleFails) {
    port::Handle null = port::kNullHandle;
    EXPECT_EQ(port::WaitAny(1, &null), port::kWaitFailed);
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 3);
    ::close(fd);
    port::Handle closed = fd;
    EXPECT_EQ(port::WaitAny(1, &closed), port::kWaitFailed);
    EXPECT_EQ(port::WaitAny(0, nullptr), port::kWaitFailed);
}

TEST(Process, OpeningMissingProcessesFails) {
    EXPECT_EQ(port::OpenProcessFull(0), port::kNullHandle);
    EXPECT_EQ(port::OpenProcessForTermination(0), port::kNullHandle);
    // Above the kernel's pid limit, so no process has it.
    EXPECT_EQ(port::OpenProcessFull(4194305u), port::kNullHandle);
    EXPECT_EQ(port::OpenProcessForTermination(4194305u), port::kNullHandle);
    EXPECT_EQ(port::ProcessIdOf(port::kNullHandle), 0u);
}

TEST(Process, OurOwnImageName) {
    port::Handle self = port::OpenProcessFull(static_cast<std::uint32_t>(::getpid()));
    ASSERT_NE(self, port::kNullHandle);
    std::string image;
    ASSERT_TRUE(port::ProcessImageName(self, &image));
    EXPECT_EQ(image, RealPath("/proc/self/exe"));
    EXPECT_EQ(port::ProcessIdOf(self), static_cast<std::uint32_t>(::getpid()));
    port::Close(self);
}

// Run as another user (a child that gives up root, when we are root): our
// process can be opened, but neither signalled nor its image read.
TEST(Process, AnotherUsersProcessCannotBeSignalledOrRead) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    const pid_t owner = ::getpid();
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(10);
        if (::geteuid() == 0)
            ::_exit(11);
        if (port::OpenProcessForTermination(static_cast<std::uint32_t>(owner)) != port::kNullHandle)
            ::_exit(12);
        if (port::LastError() != static_cast<std::uint32_t>(EPERM))
            ::_exit(13);
        port::Handle full = port::OpenProcessFull(static_cast<std::uint32_t>(owner));
        if (full == port::kNullHandle)
            ::_exit(14);
        std::string image;
        if (port::ProcessImageName(full, &image))
            ::_exit(15);
        if (port::ProcessIdOf(full) != static_cast<std::uint32_t>(owner))
            ::_exit(16);
        port::Close(full);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CanonicalPath, ResolvesExistingFilesAndFailsForMissingOnes) {
    std::string out;
    ASSERT_TRUE(port::CanonicalPath("/bin/../bin/sleep", &out));
    EXPECT_EQ(out, RealPath("/bin/sleep"));
    EXPECT_FALSE(port::CanonicalPath("/no/such/file/anywhere", &out));
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_FALSE(port::CanonicalPath("", &out));
}

namespace {

// Asking to end: SIGTERM to a process, or to the group a process leads; the
// group of a process that does not lead one (or the manager's own) is never
// signalled.
TEST_F(ProcessTest, AskingToEndReachesOnlyWhatItMay) {
    port::Handle leader = port::kNullHandle;
    ASSERT_TRUE(port::StartProgram("/bin/sleep", "60", "/", &leader));
    const std::uint32_t pid = port::ProcessIdOf(leader);
    EXPECT_FALSE(port::AskProcessGroupToEnd(port::CurrentProcessId()));
    EXPECT_FALSE(port::AskProcessToEnd(port::CurrentProcessId()));

    // A child of ours in our own group: its group is not its to end.
    const pid_t member = ::fork();
    if (member == 0) {
        ::pause();
        ::_exit(0);
    }
    EXPECT_FALSE(port::AskProcessGroupToEnd(static_cast<std::uint32_t>(member)));
    EXPECT_TRUE(port::AskProcessToEnd(static_cast<std::uint32_t>(member)));
    int status = 0;
    ASSERT_EQ(member, ::waitpid(member, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

    EXPECT_TRUE(port::AskProcessGroupToEnd(pid));
    port::ExitStatus exit{};
    ASSERT_EQ(0u, port::WaitAny(1, &leader, 10000));
    ASSERT_TRUE(port::ReadExitStatus(leader, &exit));
    EXPECT_TRUE(exit.bySignal && exit.value == SIGTERM);
    port::Close(leader);
}

// A child that finishes its work on SIGTERM (exit code 7), stopped before it
// is asked; with `leader` it leads a group of its own.
pid_t StoppedPoliteChild(bool leader) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (leader)
            ::setpgid(0, 0);
        std::signal(SIGTERM, [](int) { ::_exit(7); });
        ::raise(SIGSTOP);
        for (;;)
            ::pause();
    }
    int status = 0;
    if (::waitpid(child, &status, WUNTRACED) != child || !WIFSTOPPED(status))
        return -1;
    return child;
}

// Its exit code once it has ended, within ten seconds; -1 while it has not.
int ExitCodeWithin10s(pid_t child) {
    for (int tries = 0; tries < 1000; ++tries) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}

// A stopped process cannot act on a request to end until it runs again:
// SIGCONT follows it, to the process or to the whole group.
TEST(AskToEnd, AStoppedProcessActsOnTheRequestAtOnce) {
    const pid_t alone = StoppedPoliteChild(false);
    ASSERT_GT(alone, 0);
    EXPECT_TRUE(port::AskProcessToEnd(static_cast<std::uint32_t>(alone)));
    EXPECT_EQ(7, ExitCodeWithin10s(alone));

    const pid_t leader = StoppedPoliteChild(true);
    ASSERT_GT(leader, 0);
    EXPECT_TRUE(port::AskProcessGroupToEnd(static_cast<std::uint32_t>(leader)));
    EXPECT_EQ(7, ExitCodeWithin10s(leader));
}

} // namespace
