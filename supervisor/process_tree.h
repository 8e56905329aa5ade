// Ending processes together with every process descended from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Ends one process.
void KillProcess(std::uint32_t processId);

// Ends a process after all of its descendants (each after its own
// descendants, siblings in the order of the process list), including those
// started while it runs. When the process leads a session of its own (every
// application the manager starts on Linux), whatever else still runs in that
// session ends with it. The manager itself is never ended.
void KillProcessTree(std::uint32_t processId);

// The tree a polite stop asked to end, as far as it is needed to see it end.
struct StoppingTree {
    std::uint32_t root = 0;
    bool session = false;               // the root led its own session
    bool group = false;                 // the root led its own group
    std::vector<std::uint32_t> members; // the processes asked, besides the root
};

// Asks every process of the tree of `root` to end, so that each can finish
// its work: the group it leads in one step, then the rest of the tree (its
// descendants, the rest of its session) one by one. Never the manager.
// `signal` is what asks (port::SignalNumber; 0: the system's own request);
// with `mainOnly` only `root` is asked, and *tree still tells what belongs
// to it.
void AskTreeToEnd(std::uint32_t root, StoppingTree* tree, int signal = 0, bool mainOnly = false);

// True while a process of the tree has not ended (also when the process list
// cannot be read).
bool TreeRemains(const StoppingTree& tree);

// Ends what is left of the tree of a process that has ended on its own: its
// descendants, and the rest of the session and of the group it led (when the
// manager is in neither). Returns how many processes it ended; *ended names
// them, to see them gone.
std::size_t EndLeftovers(std::uint32_t processId, StoppingTree* ended);
