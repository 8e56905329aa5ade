// Waiting, sleeping, closing handles and the terminal's title.
#include "port/system.h"

#include "port/console.h"
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/test_hooks.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

std::uint32_t lastError = 0;

} // namespace

namespace posix {

void SetError(int error) {
    lastError = static_cast<std::uint32_t>(error);
}

std::size_t PendingReapsForTesting() {
    return PendingReaps();
}

} // namespace posix

std::uint32_t LastError() {
    return lastError;
}

std::uint32_t WaitAny(std::uint32_t count, const Handle* handles) {
    if (count == 0) {
        posix::SetError(EINVAL);
        return kWaitFailed;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (handles[i] <= 0 || handles[i] > 0x7FFFFFFF) {
            posix::SetError(EBADF);
            return kWaitFailed;
        }
    }
    std::vector<pollfd> fds;
    for (;;) {
        // Keys already decoded make the console input signalled at once.
        bool keysWaiting = false;
        fds.clear();
        for (std::uint32_t i = 0; i < count; ++i) {
            fds.push_back(pollfd{static_cast<int>(handles[i]), POLLIN, 0});
            if (posix::IsConsoleInput(handles[i]) && posix::ConsoleKeysWaiting())
                keysWaiting = true;
        }
        posix::AppendReaperPollFds(fds);
        int ready =
            posix::sys.poll(fds.data(), static_cast<nfds_t>(fds.size()), keysWaiting ? 0 : -1);
        if (ready < 0 && errno == EINTR)
            continue; // a signal (a window size change) is no reason to give up
        if (ready < 0) {
            posix::SetError(errno);
            return kWaitFailed;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            if (fds[i].revents & POLLNVAL) {
                posix::SetError(EBADF);
                return kWaitFailed;
            }
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                return i;
            if (posix::IsConsoleInput(handles[i]) && posix::ConsoleKeysWaiting())
                return i;
        }
        // Only ended children given up by the core: reap them and wait on.
        posix::SettleReaps();
    }
}

void SleepMs(std::uint32_t milliseconds) {
    struct timespec left {};
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void Close(Handle handle) {
    if (handle <= 2 || handle > 0x7FFFFFFF || posix::IsConsoleHandle(handle))
        return; // never ours to close
    posix::CloseDescriptor(static_cast<int>(handle));
}

void SetWindowTitle(const char* title) {
    posix::WriteTitle(title);
}

void RemoveCloseItem() {}

} // namespace port
