// The table of process handles (pidfds) and the reaper of the manager's
// children. A child is reaped only when no handle of its pid remains open,
// so its pid cannot be reused while the core may still use it.
#include "port/posix/backend.h"
#include "port/posix/proc_files.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace port::posix {

namespace {

struct OpenHandle {
    int fd;
    int pid;
};

// A descriptor given up by the core but not yet closed: the process behind
// it may be a child of ours that still has to be reaped.
struct Reap {
    int fd;
    int pid;     // 0 when unknown
    bool polled; // waiting for the process to end (else waiting for handles of its pid to close)
};

struct HandleState {
    std::vector<OpenHandle> open;
    std::vector<Reap> reaps;
};

// Never destroyed: handles may be closed during static destruction.
HandleState& State() {
    static HandleState* state = new HandleState;
    return *state;
}

// Whether an open handle has the pid `pid`; *same is set when one of them is
// a handle of that very process (its pidfd still shows the pid; one of a
// process that was reaped elsewhere, whose pid was then reused, shows -1).
bool PidHeld(int pid, bool* same) {
    *same = false;
    if (pid <= 0)
        return false;
    bool held = false;
    for (const OpenHandle& h : State().open) {
        if (h.pid != pid)
            continue;
        held = true;
        if (FdinfoPid(h.fd) == pid)
            *same = true;
    }
    return held;
}

void CloseNoIntr(int fd) {
    UniqueFd closing(fd);
}

// True when the entry is finished with (reaped, or nothing to reap).
bool TryReap(Reap& reap) {
    bool same = false;
    if (PidHeld(reap.pid, &same)) {
        if (same) { // the holder's own Close reaps it
            CloseNoIntr(reap.fd);
            return true;
        }
        reap.polled = false;
        return false;
    }
    siginfo_t info{};
    if (WaitidNoIntr(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(reap.fd), &info,
                     WEXITED | WNOHANG) == 0 &&
        info.si_pid == 0) {
        reap.polled = true; // our child, still running
        return false;
    }
    // Reaped; or ECHILD: not our child; or EINVAL: not a pidfd. Nothing
    // (more) to reap.
    CloseNoIntr(reap.fd);
    return true;
}

} // namespace

int FdinfoPid(int fd) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fdinfo/%d", fd);
    char text[1024];
    if (ReadProcFile(AT_FDCWD, path, text, sizeof text) <= 0)
        return 0;
    const char* at = std::strstr(text, "\nPid:");
    if (at == nullptr)
        return 0;
    return std::atoi(at + 5);
}

[[gnu::hot]] int AboveStandardDescriptors(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    // The original goes, leaving errno as the copy left it.
    const UniqueFd original(fd);
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

void RememberProcess(int fd, int pid) {
    State().open.push_back(OpenHandle{fd, pid});
}

int RecordedPid(int fd) {
    for (const OpenHandle& h : State().open)
        if (h.fd == fd)
            return h.pid;
    return 0;
}

void CloseDescriptor(int fd) {
    auto& open = State().open;
    int pid = 0;
    auto it =
        std::find_if(open.begin(), open.end(), [fd](const OpenHandle& h) { return h.fd == fd; });
    if (it != open.end()) {
        pid = it->pid;
        open.erase(it);
    }
    State().reaps.push_back(Reap{fd, pid, false});
    SettleReaps();
}

void SettleReaps() {
    auto& reaps = State().reaps;
    reaps.erase(std::remove_if(reaps.begin(), reaps.end(), [](Reap& r) { return TryReap(r); }),
                reaps.end());
}

void AppendReaperPollFds(std::vector<pollfd>& fds) {
    for (const Reap& r : State().reaps)
        if (r.polled)
            fds.push_back(pollfd{r.fd, POLLIN, 0});
}

bool ProcessHeld(int pid) {
    for (const OpenHandle& h : State().open)
        if (h.pid == pid)
            return true;
    for (const Reap& r : State().reaps)
        if (r.pid == pid)
            return true;
    return false;
}

std::size_t PendingReaps() {
    return State().reaps.size();
}

} // namespace port::posix
