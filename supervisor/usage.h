// What an application uses now, read when asked: the CPU time and resident
// memory of its container when it is held in one (what the container does
// not tell, from its processes), else the sums over its processes (its
// process, what descends from it, the rest of the session it leads).
#pragma once

#include "port/process.h"
#include "port/usage.h"
#include "supervisor/app_entry.h"

#include <vector>

// Unknown (both) while no process of it is supervised. `list`, when given,
// is the process list to find its tree in (see ProcessRows).
port::Usage ReadAppUsage(const AppEntry& entry,
                         const std::vector<port::ProcessRecord>* list = nullptr);
