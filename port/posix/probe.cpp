// Probes on Linux: a non-blocking TCP connect whose descriptor WaitAny polls
// for POLLOUT until it is decided, an exchange over such a connection (polled
// for POLLOUT while its request is not all sent, then for POLLIN), and the
// notify socket, a Unix datagram
// socket with SO_PASSCRED, so that every message comes with the id of the
// process that sent it.
#include "port/probe.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

// The descriptors of connections under way: WaitAny polls them for POLLOUT.
std::vector<int>& Connecting() {
    static std::vector<int>* connecting = new std::vector<int>;
    return *connecting;
}

// The exchanges under way: their request and how much of it was sent.
struct ExchangeState {
    int fd;
    std::string request;
    std::size_t sent;
};

std::vector<ExchangeState>& Exchanges() {
    static std::vector<ExchangeState>* exchanges = new std::vector<ExchangeState>;
    return *exchanges;
}

ExchangeState* FindExchange(int fd) {
    for (ExchangeState& exchange : Exchanges())
        if (exchange.fd == fd)
            return &exchange;
    return nullptr;
}

void Forget(int fd) {
    std::vector<int>& connecting = Connecting();
    connecting.erase(std::remove(connecting.begin(), connecting.end(), fd), connecting.end());
    std::vector<ExchangeState>& exchanges = Exchanges();
    exchanges.erase(std::remove_if(exchanges.begin(), exchanges.end(),
                                   [fd](const ExchangeState& e) { return e.fd == fd; }),
                    exchanges.end());
}

// Closes `fd` (when not -1) and reports `error`.
Handle Fail(int fd, int error) {
    const posix::UniqueFd closing(fd);
    posix::SetError(error);
    return kNullHandle;
}

} // namespace

namespace posix {

short PollEventsOf(int fd) {
    const std::vector<int>& connecting = Connecting();
    if (std::find(connecting.begin(), connecting.end(), fd) != connecting.end())
        return POLLOUT;
    const ExchangeState* exchange = FindExchange(fd);
    return exchange != nullptr && exchange->sent < exchange->request.size() ? POLLOUT : POLLIN;
}

} // namespace posix

namespace {

Exchange ExchangeFailed(int error) {
    posix::SetError(error);
    return Exchange::Failed;
}

} // namespace

Handle BeginExchange(const char* host, std::uint16_t port, const std::string& request) {
    const Handle probe = BeginConnection(host, port);
    if (probe == kNullHandle)
        return kNullHandle;
    const int fd = static_cast<int>(probe);
    Forget(fd);
    Exchanges().push_back(ExchangeState{fd, request, 0});
    return probe;
}

Exchange AdvanceExchange(Handle handle, std::string* answer) {
    const int fd = static_cast<int>(handle);
    ExchangeState* exchange = FindExchange(fd);
    if (exchange == nullptr)
        return ExchangeFailed(EBADF);
    while (exchange->sent < exchange->request.size()) {
        if (exchange->sent == 0 && !ConnectionMade(handle))
            return Exchange::Failed;
        const ssize_t n = posix::RestartOnEintr([&] {
            return ::send(fd, exchange->request.data() + exchange->sent,
                          exchange->request.size() - exchange->sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        });
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? Exchange::Pending
                                                           : ExchangeFailed(errno);
        exchange->sent += static_cast<std::size_t>(n);
    }
    // A bounded read per call, so that a peer that never stops cannot hold
    // the loop.
    char buffer[4096];
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t n =
            posix::RestartOnEintr([&] { return ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT); });
        if (n == 0)
            return Exchange::Closed;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? Exchange::Pending
                                                           : ExchangeFailed(errno);
        answer->append(buffer, static_cast<std::size_t>(n));
    }
    return Exchange::Pending;
}

Handle BeginConnection(const char* host, std::uint16_t port) {
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    } else {
        return Fail(-1, EINVAL);
    }
    int fd = posix::sys.socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Fail(-1, errno);
    fd = posix::AboveStandardDescriptors(fd);
    if (fd < 0)
        return Fail(-1, errno);
    // Interrupted, a connect goes on by itself: it is then under way.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 &&
        errno != EINPROGRESS && errno != EINTR)
        return Fail(fd, errno);
    Connecting().push_back(fd);
    return fd;
}

bool ConnectionMade(Handle probe) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(static_cast<int>(probe), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == 0) {
        // Decided as writable: connected, unless the peer has not answered yet.
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(static_cast<int>(probe), reinterpret_cast<sockaddr*>(&peer), &length) ==
            0)
            return true;
        error = errno;
    }
    posix::SetError(error);
    return false;
}

void CloseProbe(Handle probe) {
    if (probe <= 2 || probe > 0x7FFFFFFF)
        return;
    Forget(static_cast<int>(probe));
    const posix::UniqueFd closing(static_cast<int>(probe));
}

const bool kNotifySocketSupported = true;

Handle OpenNotifySocket(std::string* address) {
    std::string problem;
    const std::string runtime = posix::RuntimeDirectory(&problem);
    if (runtime.empty())
        return Fail(-1, EACCES);
    int fd = posix::sys.socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Fail(-1, errno);
    fd = posix::AboveStandardDescriptors(fd);
    if (fd < 0)
        return Fail(-1, errno);
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0)
        return Fail(fd, errno);
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    std::string path = runtime + "/notify.sock";
    socklen_t length = 0;
    if (path.size() < sizeof name.sun_path) {
        // A file left by a manager that ended: the lock's holder owns the name.
        ::unlink(path.c_str());
        std::memcpy(name.sun_path, path.c_str(), path.size() + 1);
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    } else {
        // Too long for an address: an abstract name of this manager's own.
        path = "@zelkappmgr-notify-" + std::to_string(::getpid());
        std::memcpy(name.sun_path, path.c_str(), path.size());
        name.sun_path[0] = '\0';
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&name), length) != 0)
        return Fail(fd, errno);
    *address = path;
    return fd;
}

bool ReceiveNotification(Handle socket, std::string* text, std::uint32_t* senderId) {
    char buffer[4096];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec part{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = posix::RestartOnEintr([&] {
        return ::recvmsg(static_cast<int>(socket), &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    });
    if (n < 0) {
        posix::SetError(errno);
        return false;
    }
    *senderId = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            *senderId = static_cast<std::uint32_t>(credentials.pid);
        }
    }
    text->assign(buffer, static_cast<std::size_t>(n));
    return true;
}

} // namespace port
