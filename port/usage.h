// What an application's processes use: CPU time and resident memory, read
// when asked. A container (port/containment.h) may tell both for all its
// processes at once, those that ended included.
#pragma once

#include "port/types.h"

#include <cstdint>

namespace port {

struct Usage {
    bool cpuKnown = false;
    std::uint64_t cpuMs = 0; // user and system time
    bool memoryKnown = false;
    std::uint64_t memoryBytes = 0; // resident
};

// Adds what the process `processId` uses to *usage: its CPU time (Linux:
// with that of the children it waited for) and its resident memory (Linux:
// its resident set; Windows: its working set). False, adding nothing, when
// it cannot be read (ended, or not ours to read).
bool AddProcessUsage(std::uint32_t processId, Usage* usage);

// Reads what the container tells of all its processes into *usage, leaving
// unknown what it does not tell. Linux: the cgroup's cpu.stat (usage_usec)
// and memory.current, where its parent enables the memory controller;
// Windows: the job's accounting times (its ended processes included) and
// the sum of its processes' working sets.
void ReadContainerUsage(Handle container, Usage* usage);

// Asks the system to reclaim the container's memory above `bytes` (Linux:
// memory.high of a cgroup with the memory controller), or no longer when
// `bytes` is 0. False, with LastError(), where the system cannot (no
// memory controller; Windows).
bool SetContainerMemoryHigh(Handle container, std::uint64_t bytes);

} // namespace port
