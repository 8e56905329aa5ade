// The system calls of the POSIX back end, through one replaceable table.
//
// Every call whose failure the back end must handle goes through `sys`
// rather than straight to the C library, so that a test can make a chosen
// call fail with a chosen errno (EMFILE in the middle of a /proc walk, EINTR
// on a read, a pidfd_open that fails right after a successful spawn) and
// check what the back end does with it. The program itself never changes
// the table.
#pragma once

#include <cerrno>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>

namespace port::posix {

struct SystemCalls {
    int (*openat)(int directory, const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, size_t length);
    ssize_t (*write)(int fd, const void* buffer, size_t length);
    int (*poll)(struct pollfd* fds, nfds_t count, int timeoutMs);
    int (*posix_spawn)(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                       const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
    int (*pidfd_open)(pid_t pid, unsigned int flags);
    int (*pidfd_send_signal)(int pidfd, int signal, siginfo_t* info, unsigned int flags);
    int (*waitid)(idtype_t type, id_t id, siginfo_t* info, int options);
    int (*socket)(int domain, int type, int protocol);
    int (*flock)(int fd, int operation);
    DIR* (*opendir)(const char* path);
    ssize_t (*readlinkat)(int directory, const char* path, char* buffer, size_t size);
    int (*kill)(pid_t pid, int signal);
};

// The table in use. Tests may replace entries; RestoreSystemCalls puts the
// real calls back.
extern SystemCalls sys;

// The real calls, as the table holds them at start.
const SystemCalls& RealSystemCalls();
void RestoreSystemCalls();

// --- calls restarted after a signal ------------------------------------------
// A call that a signal interrupts (EINTR) is made again; every other result,
// failures included, is the caller's. Each wrapper goes through `sys`.

// Makes `call` (a callable returning a number, negative on failure) again
// while it fails with EINTR, and returns its last result.
template <typename Call> auto RestartOnEintr(Call call) -> decltype(call()) {
    for (;;) {
        const auto result = call();
        if (!(result < 0 && errno == EINTR))
            return result;
    }
}

ssize_t ReadNoIntr(int fd, void* buffer, size_t length);
// One write; it may move fewer bytes than asked.
ssize_t WriteNoIntr(int fd, const void* buffer, size_t length);
int OpenatNoIntr(int directory, const char* path, int flags, mode_t mode);
int WaitidNoIntr(idtype_t type, id_t id, siginfo_t* info, int options);
// Waits at most `timeoutMs` in all (-1: without a limit): after a signal it
// waits on for what is left of the time.
int PollNoIntr(struct pollfd* fds, nfds_t count, int timeoutMs);
// Sleeps the whole `microseconds`, signals or not.
void SleepNoIntr(long long microseconds);

} // namespace port::posix
