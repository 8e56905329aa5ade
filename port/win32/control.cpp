// The control channel on Windows: a named pipe "\\.\pipe\<name>-<user SID>"
// whose security descriptor grants access to the current user only (a
// service's pipe also to the local Administrators group), and which refuses
// remote clients. A client that finds no manager of its own user reaches the
// one that runs as a service under LocalSystem. The manager keeps one
// listening instance whose connect is overlapped; its event is the handle the
// wait table holds. Each client the manager accepted is served the same way:
// a read is kept pending on its pipe, and the read's event is the
// connection's handle, set when input has arrived or the client has closed.
#include "port/control.h"
#include "port/service_control.h"

#include "port/win32/account.h"
#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace port {

using win32::FromNative;
using win32::ToNative;

namespace {

// How one transfer ended.
enum class Io {
    Done,     // a read moved some bytes; a write moved all of them
    Closed,   // the other end closed (reads only)
    TimedOut, // the time limit came first (a write may have moved some bytes)
    Failed,   // LastError tells why
};

// The port's answer for a transfer that ended so.
bool Answer(Io result) {
    if (result == Io::TimedOut)
        ::SetLastError(WAIT_TIMEOUT);
    return result == Io::Done || result == Io::Closed;
}

constexpr DWORD kPipeBuffer = 4096;

// The account a service runs as unless told otherwise.
constexpr char kLocalSystemSid[] = "S-1-5-18";

// A client identifies itself to the pipe's server, which cannot act as it.
constexpr DWORD kClientFlags =
    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Set for a service: its pipe admits the local Administrators group too.
bool admitAdministrators = false;

struct Endpoint {
    std::string pipeName;
    SECURITY_ATTRIBUTES security{};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    HANDLE listening = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED connect{};
};

Endpoint endpointState;

// A client the manager accepted. `event` is its handle for the core.
struct Connection {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr; // null: the slot is free
    OVERLAPPED read{};
    bool pending = false; // `read` is in flight or done but not yet taken
    bool closed = false;  // the client closed its end, or the pipe failed
    char buffer[512];
    DWORD have = 0;  // bytes of `buffer` that the last read brought
    DWORD taken = 0; // of which the core has read this many
};

// More than the manager ever serves at once.
constexpr int kConnections = 8;
Connection connections[kConnections];

Connection* FindConnection(Handle handle) {
    if (handle == kNullHandle)
        return nullptr;
    for (Connection& c : connections)
        if (c.event != nullptr && c.event == ToNative(handle))
            return &c;
    return nullptr;
}

bool IsBrokenPipe(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
           error == ERROR_NO_DATA;
}

// Starts the next read; its event is set when it completes, also at once.
void StartRead(Connection& c) {
    c.have = c.taken = 0;
    c.read = OVERLAPPED{};
    c.read.hEvent = c.event;
    c.pending = true;
    if (!::ReadFile(c.pipe, c.buffer, sizeof c.buffer, nullptr, &c.read) &&
        ::GetLastError() != ERROR_IO_PENDING) {
        c.pending = false;
        c.closed = true;
        ::SetEvent(c.event);
    }
}

std::string PipePath(const char* name, const std::string& sid) {
    return std::string("\\\\.\\pipe\\") + name + "-" + sid;
}

bool PipeName(const char* name, std::string* pipeName, std::string* sid) {
    *sid = win32::UserSid();
    if (sid->empty())
        return false;
    *pipeName = PipePath(name, *sid);
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
        const win32::ScopedHandle failed(std::exchange(e.listening, INVALID_HANDLE_VALUE));
        return false;
    }
    return true;
}

// Runs one overlapped read or write and waits for it at most `timeoutMs`.
Io Transfer(HANDLE pipe, bool reading, char* buffer, DWORD length, DWORD timeoutMs, DWORD* moved) {
    *moved = 0;
    const win32::ScopedHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        return Io::Failed;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    BOOL ok = reading ? ::ReadFile(pipe, buffer, length, nullptr, &overlapped)
                      : ::WriteFile(pipe, buffer, length, nullptr, &overlapped);
    Io result = Io::Done;
    if (!ok && ::GetLastError() != ERROR_IO_PENDING) {
        const DWORD error = ::GetLastError();
        result = IsBrokenPipe(error) ? Io::Closed : Io::Failed;
    } else if (::WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        // Only this operation: a read may be pending on the pipe beside it.
        ::CancelIoEx(pipe, &overlapped);
        ::GetOverlappedResult(pipe, &overlapped, moved, TRUE);
        result = *moved > 0 ? Io::Done : Io::TimedOut;
    } else if (!::GetOverlappedResult(pipe, &overlapped, moved, FALSE)) {
        const DWORD error = ::GetLastError();
        result = IsBrokenPipe(error) ? Io::Closed : Io::Failed;
    }
    if (result == Io::Done && reading && *moved == 0)
        result = Io::Closed;
    return result;
}

// A read of an accepted client: what the pending read brought, then a new
// read is started.
Io ReadAccepted(Connection& c, char* buffer, std::uint32_t size, std::uint32_t timeoutMs,
                std::uint32_t* read) {
    if (c.have == c.taken) {
        if (c.closed)
            return Io::Closed;
        if (timeoutMs > 0)
            ::WaitForSingleObject(c.event, timeoutMs);
        DWORD moved = 0;
        if (!::GetOverlappedResult(c.pipe, &c.read, &moved, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE)
                return Io::TimedOut;
            c.pending = false;
            c.closed = true;
            ::SetLastError(error);
            return IsBrokenPipe(error) ? Io::Closed : Io::Failed;
        }
        c.pending = false;
        c.have = moved;
        c.taken = 0;
        if (moved == 0) {
            StartRead(c);
            return Io::TimedOut;
        }
    }
    const DWORD n = std::min<DWORD>(c.have - c.taken, size);
    std::memcpy(buffer, c.buffer + c.taken, n);
    c.taken += n;
    *read = n;
    if (c.taken == c.have)
        StartRead(c);
    return Io::Done;
}

} // namespace

Handle OpenControlEndpoint(const char* name) {
    Endpoint& e = endpointState;
    std::string sid;
    if (!PipeName(name, &e.pipeName, &sid))
        return kNullHandle;
    // Protected DACL: all access for this user (and, for a service, the
    // Administrators group), nobody else.
    const std::string sddl =
        "D:P(A;;GA;;;" + sid + ")" + (admitAdministrators ? "(A;;GA;;;BA)" : "");
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
        const win32::ScopedHandle failed(std::exchange(e.event, nullptr));
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
    Connection* c = nullptr;
    for (Connection& slot : connections)
        if (slot.event == nullptr && c == nullptr)
            c = &slot;
    if (c == nullptr)
        return kNullHandle; // the client waits until one is closed
    DWORD unused = 0;
    if (!::GetOverlappedResult(e.listening, &e.connect, &unused, FALSE) &&
        ::GetLastError() != ERROR_PIPE_CONNECTED) {
        // A client that came and went: listen anew.
        win32::ScopedHandle(std::exchange(e.listening, INVALID_HANDLE_VALUE)).Reset();
        Listen(e, false);
        return kNullHandle;
    }
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return kNullHandle; // it stays connected and is taken later
    *c = Connection{};
    c->pipe = e.listening;
    c->event = event;
    Listen(e, false);
    StartRead(*c);
    // The pipe's security descriptor admits this user only (and, for a
    // service, administrators, who may act as any user).
    *sameUser = true;
    return FromNative(event);
}

Handle ConnectControlEndpoint(const char* name, std::uint32_t timeoutMs, bool* timedOut) {
    *timedOut = false;
    std::string pipeName;
    std::string sid;
    if (!PipeName(name, &pipeName, &sid))
        return kNullHandle;
    HANDLE pipe = ::CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, kClientFlags, nullptr);
    if (pipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND &&
        sid != kLocalSystemSid) {
        pipeName = PipePath(name, kLocalSystemSid);
        pipe = ::CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, kClientFlags, nullptr);
    }
    // Every instance taken: wait, within the limit, for the manager to listen again.
    if (pipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PIPE_BUSY) {
        if (::WaitNamedPipeA(pipeName.c_str(), timeoutMs == 0 ? 1 : timeoutMs))
            pipe = ::CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, kClientFlags, nullptr);
        *timedOut = pipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SEM_TIMEOUT;
    }
    return pipe == INVALID_HANDLE_VALUE ? kNullHandle : FromNative(pipe);
}

void AdmitAdministratorsToControl(bool admit) {
    admitAdministrators = admit;
}

bool ReadControl(Handle connection, char* buffer, std::uint32_t size, std::uint32_t timeoutMs,
                 std::uint32_t* read) {
    *read = 0;
    if (Connection* c = FindConnection(connection))
        return Answer(ReadAccepted(*c, buffer, size, timeoutMs, read));
    DWORD moved = 0;
    const Io result = Transfer(ToNative(connection), true, buffer, size, timeoutMs, &moved);
    *read = moved;
    return Answer(result);
}

bool WriteControl(Handle connection, const char* data, std::uint32_t length,
                  std::uint32_t timeoutMs, std::uint32_t* written) {
    *written = 0;
    const Connection* c = FindConnection(connection);
    HANDLE pipe = c != nullptr ? c->pipe : ToNative(connection);
    const DWORD deadline = ::GetTickCount() + timeoutMs;
    while (*written < length) {
        const DWORD now = ::GetTickCount();
        const DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
        DWORD moved = 0;
        const Io result = Transfer(pipe, false, const_cast<char*>(data + *written),
                                   length - *written, left, &moved);
        *written += moved;
        // A reader that went away is a failure of the write.
        if (result == Io::Closed)
            return false;
        if (result != Io::Done)
            return Answer(result);
    }
    return true;
}

void EndControlOutput(Handle) {
    // A pipe has no half close: the client knows the reply's end from its head.
}

void CloseControl(Handle connection) {
    if (Connection* c = FindConnection(connection)) {
        ::CancelIoEx(c->pipe, nullptr);
        DWORD moved = 0;
        if (c->pending) // the read must be over before its buffer goes
            ::GetOverlappedResult(c->pipe, &c->read, &moved, TRUE);
        const win32::ScopedHandle pipe(c->pipe);
        const win32::ScopedHandle event(c->event);
        *c = Connection{};
        return;
    }
    const win32::ScopedHandle pipe(ToNative(connection));
}

} // namespace port
