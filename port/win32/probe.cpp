// Probes on Windows: a TCP connect made non-blocking by WSAEventSelect, whose
// event (manual reset) is the handle the wait table holds; the notify socket
// of the readiness protocol does not exist here.
#include "port/probe.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

namespace port {

using win32::FromNative;
using win32::ToNative;

namespace {

struct Probe {
    HANDLE event;
    SOCKET socket;
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

Handle BeginConnection(const char* host, std::uint16_t port) {
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
    if (::WSAEventSelect(socket, event, FD_CONNECT) != 0)
        return Fail(socket, event, static_cast<DWORD>(::WSAGetLastError()));
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), length) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK)
        return Fail(socket, event, static_cast<DWORD>(::WSAGetLastError()));
    Probes().push_back(Probe{event, socket});
    return FromNative(event);
}

bool ConnectionMade(Handle probe) {
    for (const Probe& p : Probes()) {
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
