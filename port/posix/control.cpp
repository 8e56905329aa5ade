// The control channel on POSIX: a Unix stream socket "<name>.sock" in the
// user's private runtime directory, beside the single-instance lock. Only
// this user can enter that directory; the manager still checks the peer's
// credentials of every connection.
#include "port/control.h"
#include "port/file.h"
#include "port/system.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace port {

namespace {

// The address of the socket "<name>.sock" in the runtime directory, whose
// full path is *path. A path longer than an address holds is reached
// through an open descriptor of the directory, as /proc/self/fd/<fd>/...:
// *directory keeps it open until the caller has bound or connected.
bool SocketAddress(const char* name, sockaddr_un* address, socklen_t* length, std::string* path,
                   UniqueFile* directory) {
    std::string problem;
    const std::string runtime = posix::RuntimeDirectory(&problem);
    if (runtime.empty()) {
        errno = EACCES;
        return false;
    }
    *path = runtime + "/" + name + ".sock";
    std::string reached = *path;
    if (reached.size() + 1 > sizeof address->sun_path) {
        const int fd = posix::AboveStandardDescriptors(
            posix::sys.openat(AT_FDCWD, runtime.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0));
        if (fd < 0)
            return false;
        *directory = UniqueFile(fd);
        reached = "/proc/self/fd/" + std::to_string(fd) + "/" + name + ".sock";
        if (reached.size() + 1 > sizeof address->sun_path) {
            errno = ENAMETOOLONG;
            return false;
        }
    }
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, reached.c_str(), reached.size() + 1);
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + reached.size() + 1);
    return true;
}

Handle Fail() {
    posix::SetError(errno);
    return kNullHandle;
}

std::int64_t Now() {
    return static_cast<std::int64_t>(NowMs());
}

// Waits for `events` on `fd` until `deadline`; false when the time ran out
// (or the wait failed, with errno set).
bool WaitFor(int fd, short events, std::int64_t deadline) {
    const std::int64_t left = deadline - Now();
    pollfd p{fd, events, 0};
    const int ready = posix::PollNoIntr(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready == 0)
        errno = ETIMEDOUT;
    return ready > 0;
}

// The rest of the time until `deadline`, as a socket time limit (a zero
// time limit would mean none).
timeval TimeLeft(std::int64_t deadline) {
    const std::int64_t left = std::max<std::int64_t>(deadline - Now(), 1);
    return timeval{static_cast<time_t>(left / 1000), static_cast<suseconds_t>(left % 1000 * 1000)};
}

bool ValidFd(Handle handle) {
    return handle > 2 && handle <= 0x7FFFFFFF;
}

} // namespace

Handle OpenControlEndpoint(const char* name) {
    sockaddr_un address;
    socklen_t length = 0;
    std::string path;
    UniqueFile directory;
    if (!SocketAddress(name, &address, &length, &path, &directory))
        return Fail();
    posix::UniqueFd fd(posix::AboveStandardDescriptors(
        posix::sys.socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)));
    if (!fd)
        return Fail();
    // A socket file left by a manager that ended: whoever holds the
    // single-instance lock owns the name.
    ::unlink(path.c_str());
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(fd.Get(), 16) != 0)
        return Fail();
    return fd.Release();
}

Handle AcceptControlClient(Handle endpoint, std::uint32_t* userId, bool* sameUser) {
    *userId = 0;
    *sameUser = false;
    if (!ValidFd(endpoint)) {
        posix::SetError(EBADF);
        return kNullHandle;
    }
    posix::UniqueFd fd(posix::AboveStandardDescriptors(posix::RestartOnEintr([&] {
        return ::accept4(static_cast<int>(endpoint), nullptr, nullptr,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
    })));
    if (!fd)
        return Fail();
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return Fail();
    *userId = static_cast<std::uint32_t>(credentials.uid);
    *sameUser = credentials.uid == ::geteuid();
    return fd.Release();
}

Handle ConnectControlEndpoint(const char* name, std::uint32_t timeoutMs, bool* timedOut) {
    *timedOut = false;
    sockaddr_un address;
    socklen_t length = 0;
    std::string path;
    UniqueFile directory;
    if (!SocketAddress(name, &address, &length, &path, &directory))
        return Fail();
    posix::UniqueFd fd(
        posix::AboveStandardDescriptors(posix::sys.socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)));
    if (!fd)
        return Fail();
    // A manager that does not accept leaves the connection in its backlog,
    // and a full backlog would hold a plain connect for good: the send time
    // limit bounds the connect of a Unix socket.
    const std::int64_t deadline = Now() + timeoutMs;
    const int result = posix::RestartOnEintr([&] {
        const timeval left = TimeLeft(deadline);
        return ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &left, sizeof left) != 0
                   ? -1
                   : ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length);
    });
    if (result != 0 && errno == EAGAIN) {
        *timedOut = true;
        errno = ETIMEDOUT;
    }
    // Reads and writes then wait with a time limit of their own.
    if (result != 0 || ::fcntl(fd.Get(), F_SETFL, O_NONBLOCK) != 0)
        return Fail();
    return fd.Release();
}

bool ReadControl(Handle connection, char* buffer, std::uint32_t size, std::uint32_t timeoutMs,
                 std::uint32_t* read) {
    *read = 0;
    if (!ValidFd(connection)) {
        posix::SetError(EBADF);
        return false;
    }
    const int fd = static_cast<int>(connection);
    const std::int64_t deadline = Now() + timeoutMs;
    for (;;) {
        const ssize_t n = posix::ReadNoIntr(fd, buffer, size);
        if (n > 0) {
            *read = static_cast<std::uint32_t>(n);
            return true;
        }
        // A peer that reset its end has closed it too.
        if (n == 0 || errno == ECONNRESET)
            return true;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            posix::SetError(errno);
            return false;
        }
        if (!WaitFor(fd, POLLIN, deadline)) {
            posix::SetError(errno);
            return false;
        }
    }
}

bool WriteControl(Handle connection, const char* data, std::uint32_t length,
                  std::uint32_t timeoutMs, std::uint32_t* written) {
    *written = 0;
    if (!ValidFd(connection)) {
        posix::SetError(EBADF);
        return false;
    }
    const int fd = static_cast<int>(connection);
    const std::int64_t deadline = Now() + timeoutMs;
    while (*written < length) {
        // MSG_NOSIGNAL: a peer that went away is an error, not a SIGPIPE.
        const ssize_t n = posix::RestartOnEintr([&] {
            return ::send(fd, data + *written, length - *written, MSG_NOSIGNAL | MSG_DONTWAIT);
        });
        if (n > 0) {
            *written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            posix::SetError(errno);
            return false;
        }
        if (!WaitFor(fd, POLLOUT, deadline)) {
            posix::SetError(errno);
            return false;
        }
    }
    return true;
}

void EndControlOutput(Handle connection) {
    if (ValidFd(connection))
        ::shutdown(static_cast<int>(connection), SHUT_WR);
}

void CloseControl(Handle connection) {
    if (ValidFd(connection))
        posix::UniqueFd closing(static_cast<int>(connection));
}

} // namespace port
