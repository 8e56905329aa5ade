// The control channel: a local connection through which a client program of
// the same user reaches the running manager. On POSIX a Unix stream socket in
// the user's private runtime directory; on Windows a named pipe that only the
// current user may open.
//
// The manager never waits on a client: it accepts, reads and writes only
// what can be moved at once (time limit 0) and learns from WaitAny when a
// connection has more for it. The client program waits with time limits.
#pragma once

#include "port/types.h"
#include "port/unique_handle.h"

#include <cstdint>

namespace port {

// The manager's end, listening under `name`. The handle is signalled (for
// WaitAny) while a client waits to be accepted. Null on failure (LastError).
Handle OpenControlEndpoint(const char* name);

// Takes the client that waits, or returns null when none does; never waits.
// The connection's handle is signalled (for WaitAny) while input from the
// client waits to be read or the client has closed its end. *userId is the
// client's user id where the system tells it (0 otherwise), *sameUser
// whether the client runs as the user of this process.
Handle AcceptControlClient(Handle endpoint, std::uint32_t* userId, bool* sameUser);

// The client's end: a connection to the manager listening under `name`,
// made within `timeoutMs`. Null when none listens, or, with *timedOut set,
// when one listens but did not take the connection in time (LastError).
Handle ConnectControlEndpoint(const char* name, std::uint32_t timeoutMs, bool* timedOut);

// Reads what has arrived, at most `size` bytes, waiting at most `timeoutMs`.
// True when bytes were read, or (with *read 0) when the other end has closed.
// False when the time limit came first (LastError() is kErrorTimeout) or the
// read failed.
bool ReadControl(Handle connection, char* buffer, std::uint32_t size, std::uint32_t timeoutMs,
                 std::uint32_t* read);

// Writes `length` bytes, waiting at most `timeoutMs` in all. True when all
// of them were written. False when the time limit came first (LastError() is
// kErrorTimeout) or the write failed; *written tells how many were moved
// either way.
bool WriteControl(Handle connection, const char* data, std::uint32_t length,
                  std::uint32_t timeoutMs, std::uint32_t* written);

// Tells the other end that nothing more will be written; it reads the end
// after what was written. Does nothing where the system has no such step
// (Windows pipes).
void EndControlOutput(Handle connection);

// Closes a connection or the endpoint at once.
void CloseControl(Handle connection);

// Owns a connection that CloseControl closes.
using UniqueControl = BasicUniqueHandle<CloseControl>;

} // namespace port
