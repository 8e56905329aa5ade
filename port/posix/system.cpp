// Waiting, sleeping, closing handles and the terminal's title.
#include "port/system.h"

#include "port/console.h"
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

std::uint32_t lastError = 0;
// What the last failing call said of its failure beyond its code.
std::string lastErrorText;

} // namespace

namespace posix {

void SetError(int error) {
    lastError = static_cast<std::uint32_t>(error);
    lastErrorText.clear();
}

void SetError(int error, const std::string& text) {
    lastError = static_cast<std::uint32_t>(error);
    lastErrorText = text;
}

} // namespace posix

std::uint32_t LastError() {
    return lastError;
}

const std::uint32_t kErrorAlreadyExists = EWOULDBLOCK;
const std::uint32_t kErrorTimeout = ETIMEDOUT;
const std::uint32_t kErrorNoProcess = ESRCH;
const std::uint32_t kErrorFileNotFound = ENOENT;

std::string ErrorText(std::uint32_t error) {
    return std::strerror(static_cast<int>(error));
}

std::string LastErrorText() {
    return lastErrorText.empty() ? ErrorText(lastError) : lastErrorText;
}

std::uint32_t WaitAny(std::uint32_t count, const Handle* handles, std::uint32_t timeoutMs,
                      bool* ready) {
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
    const std::uint64_t deadline = timeoutMs == kWaitForever ? 0 : NowMs() + timeoutMs;
    std::vector<pollfd> fds;
    for (;;) {
        // Input already taken from the terminal (keys, a sequence to settle)
        // or a size change makes the console input signalled at once.
        bool inputWaiting = false;
        bool console = false;
        fds.clear();
        for (std::uint32_t i = 0; i < count; ++i) {
            const int fd = static_cast<int>(handles[i]);
            fds.push_back(pollfd{fd, posix::PollEventsOf(fd), 0});
            if (posix::IsConsoleInput(handles[i])) {
                console = true;
                inputWaiting = inputWaiting || posix::ConsoleInputWaiting();
            }
        }
        if (console)
            posix::AppendConsolePollFds(fds);
        posix::AppendReaperPollFds(fds);
        int limit = -1;
        if (inputWaiting)
            limit = 0;
        else if (timeoutMs != kWaitForever)
            limit = static_cast<int>(
                std::min<std::uint64_t>(deadline - std::min(deadline, NowMs()), 0x7FFFFFFF));
        // A signal (a size change, say) only wakes the poll: the size change
        // also makes its own descriptor readable.
        if (posix::PollNoIntr(fds.data(), static_cast<nfds_t>(fds.size()), limit) < 0) {
            posix::SetError(errno);
            return kWaitFailed;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            if (fds[i].revents & POLLNVAL) {
                posix::SetError(EBADF);
                return kWaitFailed;
            }
        }
        std::uint32_t lowest = kWaitFailed;
        for (std::uint32_t i = 0; i < count; ++i) {
            const bool signalled =
                (fds[i].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR)) != 0 ||
                (posix::IsConsoleInput(handles[i]) && posix::ConsoleInputWaiting());
            if (ready != nullptr)
                ready[i] = signalled;
            if (signalled && lowest == kWaitFailed)
                lowest = i;
        }
        if (lowest != kWaitFailed)
            return lowest;
        if (timeoutMs != kWaitForever && NowMs() >= deadline)
            return kWaitTimedOut;
        // Only ended children given up by the core: reap them and wait on.
        posix::SettleReaps();
    }
}

void SleepMs(std::uint32_t milliseconds) {
    // Terminal bytes that arrive meanwhile are read and stamped as they come.
    if (posix::SleepWatchingConsole(milliseconds))
        return;
    posix::SleepNoIntr(static_cast<long long>(milliseconds) * 1000);
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

// Placed among the capture process's loop: its own code, faulted back in
// once the pages are given back, is then no page more.
[[gnu::hot]] void TrimMemory() {
    // The list is read and parsed first, so that the calls that drop pages
    // do not run code that faults them back in between.
    static char text[131072];
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    std::size_t length = 0;
    {
        const posix::UniqueFd fd(
            posix::OpenatNoIntr(AT_FDCWD, "/proc/self/smaps", O_RDONLY | O_CLOEXEC, 0));
        if (!fd)
            return;
        for (ssize_t n;
             length < sizeof text - 1 &&
             (n = posix::ReadNoIntr(fd.Get(), text + length, sizeof text - 1 - length)) > 0;)
            length += static_cast<std::size_t>(n);
    }
    text[length] = '\0';
    struct Range {
        std::uintptr_t start, end;
    };
    static Range ranges[128];
    std::size_t count = 0;
    // A mapping begins "start-end perms offset dev inode path", its fields
    // follow. Pages of a private mapping of a file that is not writable and
    // holds no page of its own (relocated data) come back from the file.
    bool candidate = false;
    Range range{};
    for (char* line = text; *line != '\0';) {
        char* next = std::strchr(line, '\n');
        if (next != nullptr)
            *next = '\0';
        char* rest = nullptr;
        const std::uintptr_t start = std::strtoull(line, &rest, 16);
        if (rest != line && *rest == '-') {
            range.start = start;
            range.end = std::strtoull(rest + 1, &rest, 16);
            candidate = rest[0] == ' ' && rest[1] == 'r' && rest[2] == '-' && rest[4] == 'p' &&
                        std::strchr(rest, '/') != nullptr;
        } else if (candidate && std::strncmp(line, "Anonymous:", 10) == 0) {
            if (std::strtoull(line + 10, nullptr, 10) == 0 && count < 128)
                ranges[count++] = range;
            candidate = false;
        }
        line = next != nullptr ? next + 1 : line + std::strlen(line);
    }
    for (std::size_t i = 0; i < count; ++i) {
        void* start = reinterpret_cast<void*>(ranges[i].start);
        const std::size_t size = ranges[i].end - ranges[i].start;
        ::madvise(start, size, MADV_DONTNEED);
    }
    // The list's own pages too: they are read as zeros if ever needed again.
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(text) + page - 1) & ~(page - 1);
    const std::uintptr_t last =
        (reinterpret_cast<std::uintptr_t>(text) + sizeof text) & ~(page - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

std::uint64_t NowMs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace port
