// Starting a program where posix_spawn cannot: inside a cgroup, or as
// another user. The child is forked, writes itself into the cgroup's
// cgroup.procs before it runs anything of the program, and takes the
// user's groups and ids. (clone3 with CLONE_INTO_CGROUP would place it in
// the cgroup in one step, but Linux 6.18 kills every child cloned into a
// cgroup once cgroup.kill has been written there, which every contained
// stop does.) The child then does what posix_spawn's attributes and file
// actions do for an uncontained start (a session of its own, signals at
// their defaults, the standard descriptors, the directory, nothing else
// inherited) and execs; a failure before the exec comes back to the parent
// as an errno through a close-on-exec pipe. The manager has one thread, so
// the fork is safe.
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace port::posix {

namespace {

// What the child needs, made ready before it exists: it must not allocate.
struct Child {
    const char* path;
    char* const* argv;
    char* const* envp;
    const char* directory;  // null: the manager's; "": the root
    int input;              // -1: /dev/null
    int output;             // -1: /dev/null
    int cgroupProcs;        // -1, or the cgroup's cgroup.procs, which the child writes itself into
    const Account* account; // null: the manager's user
    int report;             // the pipe's write end
};

[[noreturn]] void Fail(const Child& child, int error) {
    [[maybe_unused]] const ssize_t n = ::write(child.report, &error, sizeof error);
    ::_exit(127);
}

void Redirect(const Child& child, int from, int to, int flags) {
    int fd = from;
    if (fd < 0 && (fd = ::open("/dev/null", flags | O_CLOEXEC)) < 0)
        Fail(child, errno);
    if (fd != to && ::dup2(fd, to) < 0)
        Fail(child, errno);
}

[[noreturn]] void BecomeProgram(const Child& child) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &byDefault, nullptr);
    // Into the cgroup first: whatever it starts from here on is held too.
    if (child.cgroupProcs >= 0 && ::write(child.cgroupProcs, "0", 1) != 1)
        Fail(child, errno);
    if (::setsid() < 0)
        Fail(child, errno);
    // Groups first, the user id last: after it nothing else may be changed.
    // The directory is entered as the user, so one it may not enter fails.
    if (const Account* account = child.account) {
        if (::setgroups(account->groups.size(), account->groups.data()) != 0 ||
            ::setgid(account->groupId) != 0 || ::setuid(account->userId) != 0)
            Fail(child, errno);
    }
    if (child.directory != nullptr && ::chdir(*child.directory ? child.directory : "/") != 0)
        Fail(child, errno);
    Redirect(child, child.input, 0, O_RDONLY);
    Redirect(child, child.output, 1, O_WRONLY);
    Redirect(child, child.output, 2, O_WRONLY);
    // Whatever else is open is closed by the exec (the report pipe too).
    if (::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0) {
        struct rlimit limit {};
        const rlim_t most = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                                ? limit.rlim_cur
                                : 65536;
        for (int fd = 3; fd < static_cast<int>(most); ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(child.path, child.argv, child.envp);
    Fail(child, errno);
}

} // namespace

bool SpawnByFork(const char* path, char* const* argv, char* const* envp, const char* directory,
                 Handle input, Handle output, Handle cgroup, const Account* account, int* process) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        SetError(errno);
        return false;
    }
    UniqueFd reportRead(AboveStandardDescriptors(ends[0]));
    UniqueFd reportWrite(AboveStandardDescriptors(ends[1]));
    Child child{path,
                argv,
                envp,
                directory,
                input != kNullHandle ? static_cast<int>(input) : -1,
                output != kNullHandle ? static_cast<int>(output) : -1,
                -1,
                account,
                reportWrite.Get()};
    if (!reportRead || !reportWrite) {
        SetError(errno);
        return false;
    }

    UniqueFd cgroupProcs;
    if (cgroup != kNullHandle) {
        cgroupProcs.Reset(
            OpenatNoIntr(static_cast<int>(cgroup), "cgroup.procs", O_WRONLY | O_CLOEXEC, 0));
        child.cgroupProcs = cgroupProcs.Get();
    }
    const pid_t pid = cgroup != kNullHandle && !cgroupProcs ? -1 : ::fork();
    if (pid == 0)
        BecomeProgram(child);
    const int spawnError = errno;
    reportWrite.Reset();
    cgroupProcs.Reset();
    if (pid < 0) {
        SetError(spawnError);
        return false;
    }
    int error = 0;
    const ssize_t got = ReadNoIntr(reportRead.Get(), &error, sizeof error);
    reportRead.Reset();
    if (got == static_cast<ssize_t>(sizeof error)) {
        // It never ran the program: reaped here, the start failed.
        siginfo_t info;
        WaitidNoIntr(P_PID, static_cast<id_t>(pid), &info, WEXITED);
        SetError(error);
        return false;
    }
    const int pidfd = OpenPidfd(static_cast<std::uint32_t>(pid));
    if (pidfd < 0) {
        // Without a handle it could be neither watched nor reaped.
        const int openError = errno;
        sys.kill(static_cast<pid_t>(pid), SIGKILL);
        siginfo_t info;
        WaitidNoIntr(P_PID, static_cast<id_t>(pid), &info, WEXITED);
        SetError(openError);
        return false;
    }
    RememberProcess(pidfd, static_cast<int>(pid));
    *process = pidfd;
    return true;
}

} // namespace port::posix
