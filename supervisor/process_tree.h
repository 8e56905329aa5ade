// Ending processes together with every process descended from them.
#pragma once

#include <cstdint>

// Ends one process.
void KillProcess(std::uint32_t processId);

// Ends a process after all of its descendants (each after its own
// descendants, siblings in the order of the process list), including those
// started while it runs. When the process leads a session of its own (every
// application the manager starts on Linux), whatever else still runs in that
// session ends with it. The manager itself is never ended.
void KillProcessTree(std::uint32_t processId);
