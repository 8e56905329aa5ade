// Ending processes together with every process descended from them.
#pragma once

#include <cstdint>

// Ends one process.
void KillProcess(std::uint32_t processId);

// Ends every descendant of a process, each after its own descendants,
// siblings in the order of the process list. The process itself is left alone.
void KillChildProcesses(std::uint32_t processId);

// Ends a process after all of its descendants.
void KillProcessTree(std::uint32_t processId);
