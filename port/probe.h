// Looking at an application from outside: a TCP connection tried without
// waiting, the manager's socket for the readiness messages of the service
// manager's protocol (NOTIFY_SOCKET), and commands run through the shell.
#pragma once

#include "port/types.h"
#include "port/unique_handle.h"

#include <cstdint>
#include <string>
#include <vector>

namespace port {

// Starts a TCP connection to `host` (a numeric IPv4 or IPv6 address) on
// `port` without waiting for it. The handle is signalled (for WaitAny) once
// the attempt is decided, and ConnectionMade then tells how. Null, with
// LastError(), when no attempt could be started or it was refused at once.
Handle BeginConnection(const char* host, std::uint16_t port);

// True when the attempt of a signalled probe made its connection.
bool ConnectionMade(Handle probe);

// How an exchange stands after AdvanceExchange.
enum class Exchange : std::uint8_t {
    Pending, // more may come: wait for its handle again
    Closed,  // the peer has ended its side; everything it sent was read
    Failed,  // refused or reset (LastError() tells)
};

// Starts a TCP connection to `host` (as BeginConnection takes it) on `port`
// without waiting, which sends `request` once it is made and then reads the
// answer. The handle is signalled (for WaitAny) whenever the exchange can
// move on; AdvanceExchange then moves it on. Null, with LastError(), when
// no attempt could be started. CloseProbe ends it.
Handle BeginExchange(const char* host, std::uint16_t port, const std::string& request);

// Does what the exchange can without waiting: sends what is left of the
// request, and appends what has come of the answer to *answer.
Exchange AdvanceExchange(Handle exchange, std::string* answer);

// Who listens for TCP connections to `host` (a numeric IPv4 or IPv6
// address, as BeginConnection takes it) on `port`, among the listening
// sockets that take such a connection (port/tcp_listeners.h).
enum class Listener : std::uint8_t {
    Unknown, // the system's table of listening sockets could not be read
    None,    // no socket listens there
    Own,     // one of `processIds` holds such a socket
    Other,   // only other processes do
};

// Reads the system's listening sockets (Linux: /proc/net/tcp and tcp6, and
// the descriptors of `processIds` for the sockets they hold; Windows:
// GetExtendedTcpTable with the owning process ids, Unknown where it tells
// none, as under Wine) and tells who listens.
Listener FindListener(const char* host, std::uint16_t port,
                      const std::vector<std::uint32_t>& processIds);

// Closes a probe or the notify socket (the connection, if one was made, too).
void CloseProbe(Handle probe);

// Owns a handle that CloseProbe closes.
using UniqueProbe = BasicUniqueHandle<CloseProbe>;

// True where an application can say that it is ready through NOTIFY_SOCKET
// (Linux).
extern const bool kNotifySocketSupported;

// Opens the manager's notify socket: a datagram socket in the runtime
// directory (an abstract one when that path is too long for an address),
// told the id of each sender. *address is the value of NOTIFY_SOCKET for an
// application. The handle is signalled while a message waits. Null, with
// LastError(), when it cannot be made (always where it is not supported).
Handle OpenNotifySocket(std::string* address);

// Takes one waiting message without waiting: its text and the id of the
// process that sent it (0 when the system did not tell). False when none
// waits.
bool ReceiveNotification(Handle socket, std::string* text, std::uint32_t* senderId);

// Runs `line` through the shell (/bin/sh -c on POSIX, cmd /c on Windows)
// in `directory` (the default one when null), its input and output nowhere,
// in a session and so a process group of its own (POSIX) or without a
// window (Windows), as StartProgram starts a program with `environment`,
// `container` and `user`: so a health command runs as its application
// does. On success *process is its handle, as StartProgram gives one. False,
// with LastError(), when it could not be started.
bool StartShellCommand(const char* line, const char* directory, Handle* process,
                       const char* const* environment = nullptr, Handle container = kNullHandle,
                       const char* user = nullptr);

} // namespace port
