#include "port/posix/syscalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace port::posix {

namespace {

int RealOpenat(int directory, const char* path, int flags, mode_t mode) {
    return ::openat(directory, path, flags, mode);
}

int RealPidfdOpen(pid_t pid, unsigned int flags) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags));
}

int RealPidfdSendSignal(int pidfd, int signal, siginfo_t* info, unsigned int flags) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, info, flags));
}

constexpr SystemCalls kReal = {
    RealOpenat, ::read,   ::write, ::poll,    ::posix_spawn, RealPidfdOpen, RealPidfdSendSignal,
    ::waitid,   ::socket, ::flock, ::opendir, ::readlinkat,  ::kill,
};

} // namespace

SystemCalls sys = kReal;

const SystemCalls& RealSystemCalls() {
    return kReal;
}

void RestoreSystemCalls() {
    sys = kReal;
}

namespace {

long long MonotonicMs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

[[gnu::hot]] ssize_t ReadNoIntr(int fd, void* buffer, size_t length) {
    return RestartOnEintr([&] { return sys.read(fd, buffer, length); });
}

[[gnu::hot]] ssize_t WriteNoIntr(int fd, const void* buffer, size_t length) {
    return RestartOnEintr([&] { return sys.write(fd, buffer, length); });
}

[[gnu::hot]] int OpenatNoIntr(int directory, const char* path, int flags, mode_t mode) {
    return RestartOnEintr([&] { return sys.openat(directory, path, flags, mode); });
}

int WaitidNoIntr(idtype_t type, id_t id, siginfo_t* info, int options) {
    return RestartOnEintr([&] { return sys.waitid(type, id, info, options); });
}

int PollNoIntr(struct pollfd* fds, nfds_t count, int timeoutMs) {
    const long long deadline = timeoutMs < 0 ? 0 : MonotonicMs() + timeoutMs;
    int limit = timeoutMs;
    for (;;) {
        const int ready = sys.poll(fds, count, limit);
        if (!(ready < 0 && errno == EINTR))
            return ready;
        if (timeoutMs >= 0) {
            const long long left = deadline - MonotonicMs();
            limit = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

void SleepNoIntr(long long microseconds) {
    if (microseconds <= 0)
        return;
    struct timespec left {};
    left.tv_sec = static_cast<time_t>(microseconds / 1000000);
    left.tv_nsec = static_cast<long>(microseconds % 1000000) * 1000L;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace port::posix
