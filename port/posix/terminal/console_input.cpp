#include "port/posix/terminal/console_input.h"

#include "port/posix/syscalls.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

namespace port::posix {

namespace {

// Keys waiting unread beyond which sleeping stops reading (the terminal's
// own buffer holds the rest).
constexpr std::size_t kMaxWaitingKeys = 65536;

// Waits up to `us` (rounded up to whole milliseconds) for `fd` to be
// readable: 1 when it is (or has hung up), 0 when the time passed, -1 on an
// error.
int WaitReadable(int fd, Micros us) {
    struct pollfd p {
        fd, POLLIN, 0
    };
    return PollNoIntr(&p, 1, static_cast<int>((std::max<Micros>(us, 0) + 999) / 1000));
}

} // namespace

Micros NowUs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Micros>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void TerminalInput::Attach(int fd) {
    Detach();
    fd_ = fd;
}

void TerminalInput::Detach() {
    fd_ = -1;
    collecting_ = false;
    gone_ = false;
    decoder_.Clear();
}

bool TerminalInput::ReadWaiting() {
    if (gone_)
        return false;
    char buffer[4096];
    int available = 0;
    if (::ioctl(fd_, FIONREAD, &available) != 0)
        available = 0;
    if (available == 0) {
        // Nothing counted: either nothing arrived, or end of file / hang-up.
        struct pollfd p {
            fd_, POLLIN, 0
        };
        const int r = PollNoIntr(&p, 1, 0);
        if (r <= 0)
            return true;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            return !(gone_ = true);
        if (!(p.revents & POLLIN))
            return true;
        const ssize_t n = ReadNoIntr(fd_, buffer, sizeof buffer);
        if (n > 0) {
            decoder_.FeedAt(NowUs(), buffer, static_cast<std::size_t>(n));
            return true;
        }
        if (n < 0 && errno == EAGAIN)
            return true;
        return !(gone_ = true);
    }
    // Everything counted arrived before this read: one arrival time.
    const Micros arrival = NowUs();
    while (available > 0) {
        const std::size_t want =
            std::min<std::size_t>(sizeof buffer, static_cast<std::size_t>(available));
        const ssize_t n = ReadNoIntr(fd_, buffer, want);
        if (n < 0)
            return errno == EAGAIN || !(gone_ = true);
        if (n == 0)
            return !(gone_ = true);
        decoder_.FeedAt(arrival, buffer, static_cast<std::size_t>(n));
        available -= static_cast<int>(n);
    }
    return true;
}

bool TerminalInput::Collect() {
    if (!ReadWaiting())
        return false;
    decoder_.Settle(NowUs());
    while (decoder_.InSequence()) {
        const Micros left = decoder_.SettleTime() - NowUs();
        if (left <= 0) {
            decoder_.Settle(NowUs());
            break;
        }
        const int r = WaitReadable(fd_, left);
        if (r < 0)
            break;
        if (r > 0 && !ReadWaiting())
            return false;
    }
    return true;
}

void TerminalInput::SleepCollecting(std::uint32_t milliseconds) {
    const Micros deadline = NowUs() + static_cast<Micros>(milliseconds) * 1000;
    for (;;) {
        const Micros left = deadline - NowUs();
        if (left <= 0)
            return;
        if (!Collecting() || gone_ || decoder_.Count() >= kMaxWaitingKeys) {
            SleepNoIntr(left);
            continue;
        }
        const int r = WaitReadable(fd_, left);
        if (r < 0) {
            SleepNoIntr(deadline - NowUs());
            return;
        }
        if (r > 0)
            ReadWaiting(); // a terminal that is gone is noticed by the core's next read
    }
}

} // namespace port::posix
