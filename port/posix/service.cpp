// Running as a service on Linux: the log on standard output, SIGTERM and
// SIGINT as requests to end (through a self-pipe the loop waits on), the
// reaping of orphans as a child subreaper or as process 1, and systemd's
// readiness datagrams.
#include "port/service.h"

#include "port/posix/backend.h"
#include "port/posix/proc_files.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

// A self-pipe per kind of signal: the handler writes a byte, the loop waits
// on the read end.
struct SignalPipe {
    int ends[2] = {-1, -1};
};

SignalPipe shutdownPipe;
SignalPipe reloadPipe;
SignalPipe childPipe;

void Poke(const SignalPipe& pipe) {
    const int saved = errno;
    const char byte = 's';
    // Full (one waits already) or interrupted: either way it is seen.
    [[maybe_unused]] const ssize_t n = ::write(pipe.ends[1], &byte, 1);
    errno = saved;
}

void OnShutdownSignal(int) {
    Poke(shutdownPipe);
}

void OnReloadSignal(int) {
    Poke(reloadPipe);
}

void OnChildSignal(int) {
    Poke(childPipe);
}

// Opens the pipe (once) and routes `signals` to `handler`; its read end, or
// null.
Handle Route(SignalPipe& pipe, void (*handler)(int), std::initializer_list<int> signals) {
    if (pipe.ends[0] < 0) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return kNullHandle;
        pipe.ends[0] = posix::AboveStandardDescriptors(ends[0]);
        pipe.ends[1] = posix::AboveStandardDescriptors(ends[1]);
        if (pipe.ends[0] < 0 || pipe.ends[1] < 0)
            return kNullHandle;
    }
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | (handler == OnChildSignal ? SA_NOCLDSTOP : 0);
    for (int signal : signals)
        ::sigaction(signal, &action, nullptr);
    return pipe.ends[0];
}

void Drain(const SignalPipe& pipe) {
    char buffer[64];
    if (pipe.ends[0] >= 0)
        while (posix::ReadNoIntr(pipe.ends[0], buffer, sizeof buffer) > 0) {
        }
}

// The children of this process, as the kernel lists them.
std::vector<int> Children() {
    std::vector<int> children;
    char path[64];
    const int self = ::getpid();
    std::snprintf(path, sizeof path, "/proc/self/task/%d/children", self);
    char text[65536];
    if (posix::ReadProcFile(AT_FDCWD, path, text, sizeof text) >= 0) {
        for (char* at = text; *at != '\0';) {
            char* end = nullptr;
            const long pid = std::strtol(at, &end, 10);
            if (end == at)
                break;
            children.push_back(static_cast<int>(pid));
            at = end;
        }
        return children;
    }
    // Without the children file: every process whose parent this is.
    posix::ForEachProcessId([&](int proc, std::uint32_t pid) {
        posix::ProcStat stat{};
        if (posix::ReadProcStat(proc, pid, &stat) > 0 &&
            stat.parent == static_cast<std::uint32_t>(self))
            children.push_back(static_cast<int>(pid));
        return true;
    });
    return children;
}

// The value of NOTIFY_SOCKET: the one place where the manager reads it,
// at its first use, which also takes it out of the environment.
const std::string& NotifySocket() {
    static const std::string value = [] {
        const char* set = std::getenv("NOTIFY_SOCKET");
        std::string read = set != nullptr ? set : "";
        ::unsetenv("NOTIFY_SOCKET");
        return read;
    }();
    return value;
}

} // namespace

void KeepNotifySocket() {
    NotifySocket();
}

bool WriteStandardOutput(const char* data, std::uint32_t length) {
    while (length > 0) {
        const ssize_t n = posix::WriteNoIntr(STDOUT_FILENO, data, length);
        if (n <= 0) {
            posix::SetError(n < 0 ? errno : EIO);
            return false;
        }
        data += n;
        length -= static_cast<std::uint32_t>(n);
    }
    return true;
}

Handle WatchShutdownRequests() {
    // A log reader that went away must not end the manager.
    ::signal(SIGPIPE, SIG_IGN);
    return Route(shutdownPipe, OnShutdownSignal, {SIGTERM, SIGINT});
}

void TakeShutdownRequests() {
    Drain(shutdownPipe);
}

Handle WatchReloadRequests() {
    return Route(reloadPipe, OnReloadSignal, {SIGHUP});
}

void TakeReloadRequests() {
    Drain(reloadPipe);
}

Handle BecomeOrphanReaper() {
    if (::getpid() != 1 && ::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    return Route(childPipe, OnChildSignal, {SIGCHLD});
}

void ReapOrphans() {
    Drain(childPipe);
    for (int pid : Children()) {
        if (posix::ProcessHeld(pid))
            continue; // an application's: its handle reaps it
        // Looked at first, taken only when it has ended.
        siginfo_t info{};
        if (posix::WaitidNoIntr(P_PID, static_cast<id_t>(pid), &info,
                                WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid)
            posix::WaitidNoIntr(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG);
    }
}

void NotifyServiceManager(const char* state) {
    sockaddr_un address{};
    socklen_t length = 0;
    if (!posix::NotifyAddress(NotifySocket().c_str(), &address, &length))
        return;
    const posix::UniqueFd fd(posix::sys.socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return;
    posix::RestartOnEintr([&] {
        return ::sendto(fd.Get(), state, std::strlen(state), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), length);
    });
}

namespace posix {

bool NotifyAddress(const char* value, sockaddr_un* address, socklen_t* length) {
    if (value == nullptr || (value[0] != '/' && value[0] != '@'))
        return false;
    const std::size_t size = std::strlen(value);
    if (size >= sizeof address->sun_path)
        return false;
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, value, size);
    if (value[0] == '@')
        address->sun_path[0] = '\0'; // an abstract name: no terminator counts
    *length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size + (value[0] == '@' ? 0 : 1));
    return true;
}

} // namespace posix

} // namespace port
