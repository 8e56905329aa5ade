// Ending processes together with every process descended from them.
#pragma once

#include "port/system.h"
#include "port/types.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// One reading of the process list, with the rows of each parent id in list
// order, so that every level of a walk finds its children without another
// pass over the whole list.
struct ProcessList {
    std::vector<port::ProcessRecord> rows;
    std::vector<std::pair<std::uint32_t, std::size_t>> byParent; // (parent id, row)
};

// Reads the process list (port::ListProcesses) into *list; a failure, or
// a list without a first row, is reported in the log when `report` is set.
bool ReadProcessList(ProcessList* list, bool report = true);

// True when `processId` is `root` or below it in `list`: a descendant, or a
// member of the session the root leads.
bool InTree(const ProcessList& list, std::uint32_t root, std::uint32_t processId);

// The last reading of the whole list, shared by the asks and the looks of
// every stopping tree; numbered, so that a tree can tell a reading taken
// after its members ended from an older one.
struct SharedReading {
    ProcessList list;
    bool listed = false;
    std::uint64_t number = 0; // 0: none yet
    std::uint64_t takenMs = 0;
};

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
// `shared` is the reading trees share.
void AskTreeToEnd(SharedReading& shared, std::uint32_t root, StoppingTree* tree, int signal = 0,
                  bool mainOnly = false);

// The processes of a stopping tree that are watched one by one through
// their handles, so that a look at the tree reads only what it must.
struct MemberWatch {
    std::vector<port::UniqueHandle> members;
    // The newest reading of the process list that cannot show the tree's end
    // (it was taken before a watched member ended, or before the stop).
    std::uint64_t staleReading = 0;
    // The last reading found processes of the tree that could not be watched.
    bool unwatched = false;
};

// Begins to watch the members of `tree` (as asked, or ended) by their handles.
void WatchMembers(const SharedReading& shared, const StoppingTree& tree, MemberWatch* watch);

// True while a process of the tree has not ended. Members that are watched
// are looked at by their handles; only once they have all ended is the
// whole process list read, to find what else of the tree runs (children
// started meanwhile, the rest of the session), and every tree that looks
// meanwhile uses that reading. While a tree runs processes that cannot be
// watched by handle, it reads the list at most once a second. Also true
// while no such reading could be had yet or the list cannot be read.
bool TreeRemains(SharedReading& shared, const StoppingTree& tree, MemberWatch* watch);

// Ends what is left of the tree of a process that has ended on its own: its
// descendants, and the rest of the session and of the group it led (when the
// manager is in neither). Returns how many processes it ended; *ended names
// them, to see them gone.
std::size_t EndLeftovers(std::uint32_t processId, StoppingTree* ended);
