// Whether the port of a [Ready] or [Health] port rule is the application's
// own: a connection that is made proves only that something listens, and
// another user's listener must not make an application ready or healthy.
#pragma once

#include "config/readiness.h"
#include "port/probe.h"
#include "port/process.h"
#include "supervisor/app_entry.h"

#include <cstdint>
#include <vector>

// The system's process list, read once (empty when it cannot be read).
std::vector<port::ProcessRecord> ProcessRows();

// The processes that are the application's now: what its container holds,
// or its tree (its process, what descends from it, the rest of the session
// it leads), in `list` when given (so that one reading serves several
// applications), else in a list read for it. Empty while no process of it
// is supervised.
std::vector<std::uint32_t>
ApplicationProcessIds(const AppEntry& entry,
                      const std::vector<port::ProcessRecord>* list = nullptr);

// Whether a port check whose connection was made counts for the
// application: one of its processes listens on `address`, or the system
// does not tell who does (the connection has to do then). *heldByOther
// tells that another process holds the port.
bool PortCounts(const AppEntry& entry, const TcpAddress& address, bool* heldByOther);
