// Process handles on Linux: pidfds, opened, signalled and stopped.
#include "port/process.h"
#include "port/system.h"

#include "port/posix/backend.h"
#include "port/posix/proc_files.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace port {

using posix::OpenPidfd;
using posix::PidfdSignal;
using posix::sys;

namespace {

// True when the process leads a session of its own that this process is not
// part of: its process group (with the same id) is then the one it was
// started in, and never ours.
bool LeadsOtherSession(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX))
        return false;
    const pid_t pid = static_cast<pid_t>(processId);
    return pid != ::getpid() && ::getsid(pid) == pid && ::getsid(0) != pid;
}

// The pid behind a process handle: as recorded when it was opened, else
// as the kernel shows it.
int PidOf(Handle handle) {
    if (handle <= 2 || handle > INT_MAX)
        return 0;
    const int fd = static_cast<int>(handle);
    int pid = posix::RecordedPid(fd);
    if (pid == 0)
        pid = posix::FdinfoPid(fd);
    return pid > 0 ? pid : 0;
}

} // namespace

Handle OpenProcessFull(std::uint32_t processId) {
    int fd = OpenPidfd(processId);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    posix::RememberProcess(fd, static_cast<int>(processId));
    return fd;
}

bool ProcessImageName(Handle process, std::string* image) {
    const int pid = PidOf(process);
    if (pid == 0) {
        posix::SetError(ESRCH);
        return false;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", pid);
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = sys.readlinkat(AT_FDCWD, link, target.data(), target.size());
    if (length < 0) {
        posix::SetError(errno);
        return false;
    }
    if (static_cast<std::size_t>(length) >= target.size()) {
        posix::SetError(ENAMETOOLONG);
        return false;
    }
    // The name was read by pid: it belongs to this handle's process only if
    // that process still runs (else the pid may have been reused).
    if (PidfdSignal(static_cast<int>(process), 0) != 0) {
        posix::SetError(errno);
        return false;
    }
    image->assign(target.data(), static_cast<std::size_t>(length));
    return true;
}

std::uint32_t ProcessIdOf(Handle process) {
    const int pid = PidOf(process);
    if (pid == 0) {
        posix::SetError(ESRCH);
        return 0;
    }
    return static_cast<std::uint32_t>(pid);
}

Handle OpenProcessForTermination(std::uint32_t processId) {
    int fd = OpenPidfd(processId);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    // A process we may not signal counts as one that cannot be opened.
    if (PidfdSignal(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        posix::SetError(error);
        return kNullHandle;
    }
    posix::RememberProcess(fd, static_cast<int>(processId));
    return fd;
}

namespace {

// Sends `signal` to one process through a pidfd, never to this one.
bool SignalProcess(std::uint32_t processId, int signal) {
    if (processId == CurrentProcessId())
        return false;
    const int fd = OpenPidfd(processId);
    if (fd < 0)
        return false;
    const bool sent = PidfdSignal(fd, signal) == 0;
    ::close(fd);
    return sent;
}

// Sends `signal` to the group the process leads in a session of its own,
// in one step, so that the children its members are forking at that moment
// get it too; else to the process alone.
bool SignalGroupOrProcess(std::uint32_t processId, int signal) {
    if (LeadsOtherSession(processId))
        return sys.kill(-static_cast<pid_t>(processId), signal) == 0;
    return SignalProcess(processId, signal);
}

} // namespace

bool SuspendProcess(std::uint32_t processId) {
    return SignalGroupOrProcess(processId, SIGSTOP);
}

bool ProcessStopped(std::uint32_t processId) {
    posix::ProcStat stat{};
    return posix::ReadProcStat(AT_FDCWD, processId, &stat) == 1 && stat.state == 'T';
}

bool ResumeIfStopped(std::uint32_t processId) {
    posix::ProcStat stat{};
    return posix::ReadProcStat(AT_FDCWD, processId, &stat) == 1 && stat.state == 'T' &&
           SignalGroupOrProcess(processId, SIGCONT);
}

bool EndProcessGroup(std::uint32_t processId) {
    if (!LeadsOtherSession(processId))
        return false;
    return sys.kill(-static_cast<pid_t>(processId), SIGKILL) == 0;
}

// A stopped process (SIGSTOP from a debugger, or a hang in the terminal's
// job control) holds a request to end until it runs again: SIGCONT follows
// the request, as systemd sends it, so that it acts on it at once.
bool AskProcessToEnd(std::uint32_t processId, int signal) {
    if (!SignalProcess(processId, signal != 0 ? signal : SIGTERM))
        return false;
    SignalProcess(processId, SIGCONT);
    return true;
}

bool AskProcessGroupToEnd(std::uint32_t processId, int signal) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX))
        return false;
    const pid_t pid = static_cast<pid_t>(processId);
    if (::getpgid(pid) != pid || ::getpgid(0) == pid)
        return false;
    if (sys.kill(-pid, signal != 0 ? signal : SIGTERM) != 0)
        return false;
    sys.kill(-pid, SIGCONT);
    return true;
}

bool SignalNumber(const char* name, int* number) {
    static const struct {
        const char* name;
        int number;
    } kSignals[] = {{"TERM", SIGTERM}, {"INT", SIGINT},   {"QUIT", SIGQUIT},   {"HUP", SIGHUP},
                    {"USR1", SIGUSR1}, {"USR2", SIGUSR2}, {"WINCH", SIGWINCH}, {"KILL", SIGKILL},
                    {"STOP", SIGSTOP}, {"CONT", SIGCONT}};
    if (::strncasecmp(name, "SIG", 3) == 0)
        name += 3;
    for (const auto& known : kSignals) {
        if (::strcasecmp(name, known.name) == 0) {
            *number = known.number;
            return true;
        }
    }
    return false;
}

bool SendSignal(Handle process, int signal) {
    if (process <= 2 || process > INT_MAX) {
        posix::SetError(EBADF);
        return false;
    }
    if (PidfdSignal(static_cast<int>(process), signal) != 0) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

bool TerminateProcessHandle(Handle process, std::uint32_t) {
    if (process <= 2 || process > INT_MAX) {
        posix::SetError(EBADF);
        return false;
    }
    // A process that ended since it was opened has what was asked for.
    if (PidfdSignal(static_cast<int>(process), SIGKILL) != 0 && errno != ESRCH) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

bool ProcessEnded(Handle process) {
    if (process <= 2 || process > INT_MAX)
        return true;
    pollfd ready{static_cast<int>(process), POLLIN, 0};
    return posix::PollNoIntr(&ready, 1, 0) != 0;
}

namespace posix {

int PidfdSignal(int fd, int signal) {
    return sys.pidfd_send_signal(fd, signal, nullptr, 0);
}

int OpenPidfd(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = sys.pidfd_open(static_cast<pid_t>(processId), 0);
    if (fd < 0)
        return -1;
    return AboveStandardDescriptors(fd);
}

} // namespace posix

} // namespace port
