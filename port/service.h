// Running as a service (headless): no console, the log on standard output,
// the requests to end from the service manager or the operator, the orphans
// a supervisor of last resort must reap, and the service manager's
// readiness protocol.
#pragma once

#include "port/types.h"

#include <cstdint>

namespace port {

// Writes all of `data` to standard output (a line of the headless log). A
// reader that went away is no failure worth a signal: false then.
bool WriteStandardOutput(const char* data, std::uint32_t length);

// A handle signalled once something asks the program to end: SIGTERM or
// SIGINT on POSIX; Ctrl+C, Ctrl+Break or the console's close on Windows.
// Null when that cannot be watched.
Handle WatchShutdownRequests();

// Takes the requests that came: the handle is not signalled again until a
// new one comes.
void TakeShutdownRequests();

// A handle signalled once something asks the program to read its
// configuration again: SIGHUP on POSIX (what `systemctl reload` sends). Null
// where there is no such request (Windows).
Handle WatchReloadRequests();

// Takes the reload requests that came.
void TakeReloadRequests();

// Makes this process the reaper of its orphaned descendants (Linux: a child
// subreaper, or init already as process 1) and returns a handle signalled
// after a child of it has ended; null where the system has no such role
// (Windows).
Handle BecomeOrphanReaper();

// Reaps every ended child that no handle of this process holds (an orphan
// handed to it): their exit statuses are never wanted. A child that a handle
// holds, an application's process, is never touched here.
void ReapOrphans();

// Keeps the service manager's notification address for this process alone
// (Linux: NOTIFY_SOCKET is read here, once, and taken out of the environment
// the applications inherit, so that none of them speaks to the service
// manager in the manager's name). Nothing on Windows.
void KeepNotifySocket();

// Tells the service manager a state ("READY=1", "STOPPING=1"): on Linux a
// datagram to the socket that NOTIFY_SOCKET names (a leading '@' names an
// abstract one), nothing without it; on Windows, in a service (see
// RunAsService), the service's state "running" or "stop pending", nothing
// elsewhere.
void NotifyServiceManager(const char* state);

} // namespace port
