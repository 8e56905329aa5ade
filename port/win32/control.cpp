// The control channel on Windows: a named pipe "\\.\pipe\<name>-<user SID>"
// whose security descriptor grants access to the current user only, and
// which refuses remote clients. The manager keeps one listening instance
// whose connect is overlapped; its event is the handle the wait table holds.
#include "port/control.h"

#include "port/win32/native.h"

#include <sddl.h>

#include <string>

namespace port {

using win32::FromNative;
using win32::ToNative;

namespace {

constexpr DWORD kPipeBuffer = 4096;

struct Endpoint {
    std::string pipeName;
    SECURITY_ATTRIBUTES security{};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    HANDLE listening = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED connect{};
};

Endpoint endpointState;

// The string form of this process's user SID, or empty.
std::string UserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::string();
    std::string result;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
        char* text = nullptr;
        if (::ConvertSidToStringSidA(user->User.Sid, &text)) {
            result = text;
            ::LocalFree(text);
        }
    }
    ::CloseHandle(token);
    return result;
}

bool PipeName(const char* name, std::string* pipeName, std::string* sid) {
    *sid = UserSid();
    if (sid->empty())
        return false;
    *pipeName = std::string("\\\\.\\pipe\\") + name + "-" + *sid;
    return true;
}

// Starts listening with a new instance; the event is set once a client is there.
bool Listen(Endpoint& e, bool first) {
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    e.listening = ::CreateNamedPipeA(
        e.pipeName.c_str(), openMode,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, &e.security);
    if (e.listening == INVALID_HANDLE_VALUE)
        return false;
    ::ResetEvent(e.event);
    e.connect = OVERLAPPED{};
    e.connect.hEvent = e.event;
    if (::ConnectNamedPipe(e.listening, &e.connect))
        ::SetEvent(e.event);
    else if (::GetLastError() == ERROR_PIPE_CONNECTED)
        ::SetEvent(e.event);
    else if (::GetLastError() != ERROR_IO_PENDING) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(e.listening);
        e.listening = INVALID_HANDLE_VALUE;
        ::SetLastError(error);
        return false;
    }
    return true;
}

// Runs one overlapped read or write and waits for it at most `timeoutMs`.
ControlIo Transfer(HANDLE pipe, bool reading, char* buffer, DWORD length, DWORD timeoutMs,
                   DWORD* moved) {
    *moved = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr)
        return ControlIo::Failed;
    BOOL ok = reading ? ::ReadFile(pipe, buffer, length, nullptr, &overlapped)
                      : ::WriteFile(pipe, buffer, length, nullptr, &overlapped);
    ControlIo result = ControlIo::Done;
    if (!ok && ::GetLastError() != ERROR_IO_PENDING) {
        const DWORD error = ::GetLastError();
        result = error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED
                     ? ControlIo::Closed
                     : ControlIo::Failed;
    } else if (::WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        ::CancelIo(pipe);
        ::GetOverlappedResult(pipe, &overlapped, moved, TRUE);
        result = *moved > 0 ? ControlIo::Done : ControlIo::TimedOut;
    } else if (!::GetOverlappedResult(pipe, &overlapped, moved, FALSE)) {
        const DWORD error = ::GetLastError();
        result = error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED
                     ? ControlIo::Closed
                     : ControlIo::Failed;
    }
    ::CloseHandle(overlapped.hEvent);
    if (result == ControlIo::Done && reading && *moved == 0)
        result = ControlIo::Closed;
    return result;
}

} // namespace

Handle OpenControlEndpoint(const char* name) {
    Endpoint& e = endpointState;
    std::string sid;
    if (!PipeName(name, &e.pipeName, &sid))
        return kNullHandle;
    // Protected DACL with one entry: all access for this user, nobody else.
    const std::string sddl = "D:P(A;;GA;;;" + sid + ")";
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                &e.descriptor, nullptr))
        return kNullHandle;
    e.security.nLength = sizeof e.security;
    e.security.lpSecurityDescriptor = e.descriptor;
    e.security.bInheritHandle = FALSE;
    e.event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (e.event == nullptr)
        return kNullHandle;
    if (!Listen(e, true)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(e.event);
        e.event = nullptr;
        ::SetLastError(error);
        return kNullHandle;
    }
    return FromNative(e.event);
}

Handle AcceptControlClient(Handle endpoint, std::uint32_t* userId, bool* sameUser) {
    *userId = 0;
    *sameUser = false;
    Endpoint& e = endpointState;
    if (e.event == nullptr || ToNative(endpoint) != e.event ||
        ::WaitForSingleObject(e.event, 0) != WAIT_OBJECT_0)
        return kNullHandle;
    DWORD unused = 0;
    if (!::GetOverlappedResult(e.listening, &e.connect, &unused, FALSE) &&
        ::GetLastError() != ERROR_PIPE_CONNECTED) {
        // A client that came and went: listen anew.
        ::CloseHandle(e.listening);
        Listen(e, false);
        return kNullHandle;
    }
    HANDLE client = e.listening;
    Listen(e, false);
    // The pipe's security descriptor admits this user only.
    *sameUser = true;
    return FromNative(client);
}

Handle ConnectControlEndpoint(const char* name) {
    std::string pipeName;
    std::string sid;
    if (!PipeName(name, &pipeName, &sid))
        return kNullHandle;
    HANDLE pipe = ::CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PIPE_BUSY &&
        ::WaitNamedPipeA(pipeName.c_str(), 2000))
        pipe = ::CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return pipe == INVALID_HANDLE_VALUE ? kNullHandle : FromNative(pipe);
}

ControlIo ReadControl(Handle connection, char* buffer, std::uint32_t size, std::uint32_t timeoutMs,
                      std::uint32_t* read) {
    DWORD moved = 0;
    const ControlIo result = Transfer(ToNative(connection), true, buffer, size, timeoutMs, &moved);
    *read = moved;
    return result;
}

ControlIo WriteControl(Handle connection, const char* data, std::uint32_t length,
                       std::uint32_t timeoutMs) {
    const DWORD deadline = ::GetTickCount() + timeoutMs;
    while (length > 0) {
        const DWORD now = ::GetTickCount();
        const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
        DWORD moved = 0;
        const ControlIo result =
            Transfer(ToNative(connection), false, const_cast<char*>(data), length, left, &moved);
        if (result != ControlIo::Done)
            return result == ControlIo::Closed ? ControlIo::Failed : result;
        data += moved;
        length -= moved;
    }
    return ControlIo::Done;
}

void CloseControl(Handle connection, std::uint32_t lingerMs) {
    HANDLE pipe = ToNative(connection);
    if (pipe == nullptr || pipe == INVALID_HANDLE_VALUE)
        return;
    // Closing the server's end discards what the client has not read yet:
    // wait (briefly) for the client to read the reply and close its end.
    char discard[256];
    DWORD moved = 0;
    const DWORD deadline = ::GetTickCount() + lingerMs;
    for (;;) {
        const DWORD now = ::GetTickCount();
        if (static_cast<LONG>(deadline - now) <= 0)
            break;
        if (Transfer(pipe, true, discard, sizeof discard, deadline - now, &moved) !=
            ControlIo::Done)
            break;
    }
    ::CloseHandle(pipe);
}

} // namespace port
