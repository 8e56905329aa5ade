#include "port/posix/syscalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
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

} // namespace port::posix
