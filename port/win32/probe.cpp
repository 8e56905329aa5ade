// Probes on Windows: a TCP connect made non-blocking by WSAEventSelect, whose
// event (manual reset) is the handle the wait table holds, and an exchange
// over such a connection, whose event is set for its connect, its writes,
// its reads and its close; the notify socket
// of the readiness protocol does not exist here.
#include "port/probe.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>
#include <utility>
#include <vector>

namespace port {

using win32::FromNative;
using win32::ToNative;

namespace {

struct Probe {
    HANDLE event = nullptr;
    SOCKET socket = INVALID_SOCKET;
    // An exchange's request, how much of it was sent, and what it was told.
    std::string request;
    std::size_t sent = 0;
    bool connected = false;
    bool closed = false;
};

std::vector<Probe>& Probes() {
    static std::vector<Probe>* probes = new std::vector<Probe>;
    return *probes;
}

bool StartWinsock() {
    static bool started = false;
    if (!started) {
        WSADATA data;
        const int error = ::WSAStartup(MAKEWORD(2, 2), &data);
        if (error != 0) {
            ::SetLastError(static_cast<DWORD>(error));
            return false;
        }
        started = true;
    }
    return true;
}

Handle Fail(SOCKET socket, HANDLE event, DWORD error) {
    if (socket != INVALID_SOCKET)
        ::closesocket(socket);
    const win32::ScopedHandle closing(event);
    ::SetLastError(error);
    return kNullHandle;
}

} // namespace

namespace {

Handle Begin(const char* host, std::uint16_t port, long events, std::string request) {
    if (!StartWinsock())
        return kNullHandle;
    sockaddr_storage address{};
    int length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = ::htons(port);
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = ::htons(port);
        length = sizeof *v6;
    } else {
        return Fail(INVALID_SOCKET, nullptr, ERROR_INVALID_PARAMETER);
    }
    // Not inherited by the applications the manager starts.
    const SOCKET socket = ::WSASocketA(address.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET)
        return Fail(INVALID_SOCKET, nullptr, static_cast<DWORD>(::WSAGetLastError()));
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return Fail(socket, nullptr, ::GetLastError());
    // The socket becomes non-blocking; the event is set once the connect is decided.
    if (::WSAEventSelect(socket, event, events) != 0)
        return Fail(socket, event, static_cast<DWORD>(::WSAGetLastError()));
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), length) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK)
        return Fail(socket, event, static_cast<DWORD>(::WSAGetLastError()));
    Probe probe;
    probe.event = event;
    probe.socket = socket;
    probe.request = std::move(request);
    Probes().push_back(std::move(probe));
    return FromNative(event);
}

Probe* FindProbe(Handle handle) {
    for (Probe& p : Probes())
        if (p.event == ToNative(handle))
            return &p;
    return nullptr;
}

Exchange ExchangeFailed(int error) {
    ::SetLastError(static_cast<DWORD>(error));
    return Exchange::Failed;
}

} // namespace

Handle BeginConnection(const char* host, std::uint16_t port) {
    return Begin(host, port, FD_CONNECT, std::string());
}

Handle BeginExchange(const char* host, std::uint16_t port, const std::string& request) {
    return Begin(host, port, FD_CONNECT | FD_WRITE | FD_READ | FD_CLOSE, request);
}

Exchange AdvanceExchange(Handle handle, std::string* answer) {
    Probe* p = FindProbe(handle);
    if (p == nullptr)
        return ExchangeFailed(ERROR_INVALID_HANDLE);
    // Taking the events resets the event; a read below re-arms FD_READ.
    WSANETWORKEVENTS events{};
    if (::WSAEnumNetworkEvents(p->socket, p->event, &events) != 0)
        return ExchangeFailed(::WSAGetLastError());
    if ((events.lNetworkEvents & FD_CONNECT) != 0) {
        if (events.iErrorCode[FD_CONNECT_BIT] != 0)
            return ExchangeFailed(events.iErrorCode[FD_CONNECT_BIT]);
        p->connected = true;
    }
    if ((events.lNetworkEvents & FD_CLOSE) != 0)
        p->closed = true;
    if (!p->connected)
        return Exchange::Pending;
    while (p->sent < p->request.size()) {
        const int n = ::send(p->socket, p->request.data() + p->sent,
                             static_cast<int>(p->request.size() - p->sent), 0);
        if (n == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            return error == WSAEWOULDBLOCK ? Exchange::Pending : ExchangeFailed(error);
        }
        p->sent += static_cast<std::size_t>(n);
    }
    // A bounded read per call, so that a peer that never stops cannot hold
    // the loop.
    char buffer[4096];
    for (int reads = 0; reads < 16; ++reads) {
        const int n = ::recv(p->socket, buffer, sizeof buffer, 0);
        if (n == 0)
            return Exchange::Closed;
        if (n == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK)
                return ExchangeFailed(error);
            return p->closed ? Exchange::Closed : Exchange::Pending;
        }
        answer->append(buffer, static_cast<std::size_t>(n));
    }
    // More waits: the event is set again so that the loop comes back.
    ::SetEvent(p->event);
    return Exchange::Pending;
}

bool ConnectionMade(Handle probe) {
    for (Probe& p : Probes()) {
        if (p.event != ToNative(probe))
            continue;
        WSANETWORKEVENTS events{};
        if (::WSAEnumNetworkEvents(p.socket, p.event, &events) != 0) {
            ::SetLastError(static_cast<DWORD>(::WSAGetLastError()));
            return false;
        }
        if ((events.lNetworkEvents & FD_CONNECT) == 0) {
            ::SetLastError(WSAEWOULDBLOCK); // not decided yet
            return false;
        }
        const int error = events.iErrorCode[FD_CONNECT_BIT];
        ::SetLastError(static_cast<DWORD>(error));
        return error == 0;
    }
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

void CloseProbe(Handle probe) {
    std::vector<Probe>& probes = Probes();
    for (auto it = probes.begin(); it != probes.end(); ++it) {
        if (it->event == ToNative(probe)) {
            ::closesocket(it->socket);
            const win32::ScopedHandle closing(it->event);
            probes.erase(it);
            return;
        }
    }
}

const bool kNotifySocketSupported = false;

Handle OpenNotifySocket(std::string*) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return kNullHandle;
}

bool ReceiveNotification(Handle, std::string*, std::uint32_t*) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

} // namespace port
