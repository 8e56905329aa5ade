// The control channel: a local connection through which a client program of
// the same user reaches the running manager. On POSIX a Unix stream socket in
// the user's private runtime directory; on Windows a named pipe that only the
// current user may open.
#pragma once

#include "port/types.h"

#include <cstdint>

namespace port {

// The manager's end, listening under `name`. The handle is signalled (for
// WaitAny) while a client waits to be accepted. Null on failure (LastError).
Handle OpenControlEndpoint(const char* name);

// Takes the client that waits, or returns null when none does. *userId is
// the client's user id where the system tells it (0 otherwise), *sameUser
// whether the client runs as the user of this process.
Handle AcceptControlClient(Handle endpoint, std::uint32_t* userId, bool* sameUser);

// The client's end: a connection to the manager listening under `name`;
// null when none listens (LastError).
Handle ConnectControlEndpoint(const char* name);

enum class ControlIo {
    Done,     // bytes were moved (a read may have moved fewer than asked)
    Closed,   // the other end closed (reads only)
    TimedOut, // nothing could be moved within the time limit
    Failed,   // LastError tells why
};

// Reads what has arrived, at most `size` bytes, waiting at most `timeoutMs`.
ControlIo ReadControl(Handle connection, char* buffer, std::uint32_t size, std::uint32_t timeoutMs,
                      std::uint32_t* read);

// Writes all `length` bytes, waiting at most `timeoutMs` in all.
ControlIo WriteControl(Handle connection, const char* data, std::uint32_t length,
                       std::uint32_t timeoutMs);

// Ends a connection. Waits at most `lingerMs` for the other end to take what
// was written and close, so that nothing written is lost with the close.
void CloseControl(Handle connection, std::uint32_t lingerMs);

} // namespace port
