#include "supervisor/process_tree.h"

#include "console/console.h"
#include "port/process.h"
#include "port/system.h"

#include <algorithm>
#include <cstddef>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// The exit code a terminated process is given (-1 as a signed number).
constexpr std::uint32_t kKilledExitCode = 0xFFFFFFFFu;

// A stop reads the process list once, ends what it found, then reads it again
// for processes started meanwhile until a reading finds none. A tree that
// keeps starting processes faster than they are ended is given up after this
// many readings rather than holding the console forever.
constexpr int kMaxReadings = 32;

// One reading of the process list, with the rows of each parent id in list
// order, so that every level of the walk finds its children without another
// pass over the whole list.
struct ProcessList {
    std::vector<port::ProcessRecord> rows;
    std::vector<std::pair<std::uint32_t, std::size_t>> byParent; // (parent id, row)
};

bool ReadProcessList(ProcessList* list) {
    list->rows.clear();
    list->byParent.clear();
    const port::UniqueProcessSnapshot snapshot(port::OpenProcessSnapshot());
    if (snapshot == nullptr) {
        PrintMessage("Failed to get process list!");
        return false;
    }
    port::ProcessRecord record{};
    if (!port::FirstProcess(snapshot.get(), &record)) {
        PrintMessage("Failed to get first entry in process list!");
        return false;
    }
    do {
        list->rows.push_back(record);
    } while (port::NextProcess(snapshot.get(), &record));

    for (std::size_t i = 0; i < list->rows.size(); ++i)
        list->byParent.emplace_back(list->rows[i].parentProcessId, i);
    std::sort(list->byParent.begin(), list->byParent.end());
    return true;
}

const port::ProcessRecord* FindRow(const ProcessList& list, std::uint32_t processId) {
    for (const port::ProcessRecord& row : list.rows)
        if (row.processId == processId)
            return &row;
    return nullptr;
}

// The state of one stop.
struct Walk {
    const ProcessList* list;
    std::uint32_t self; // the manager: never ended, nor anything below it
    // The ids from the root of the walk down to the parent of the process
    // being walked. Recorded parent ids can form cycles (ids are reused, and a
    // system process may name itself as its parent), so the walk never
    // descends into an id that is already on the path.
    std::vector<std::uint32_t> path;
    std::unordered_set<std::uint32_t> done; // ids this stop has ended or tried to
};

bool OnPath(const Walk& walk, std::uint32_t processId) {
    return std::find(walk.path.begin(), walk.path.end(), processId) != walk.path.end();
}

// Ends every descendant of `processId` that this stop has not dealt with yet,
// each after its own descendants, siblings in list order.
void KillChildren(Walk& walk, std::uint32_t processId) {
    walk.path.push_back(processId);
    const auto& byParent = walk.list->byParent;
    auto it = std::lower_bound(byParent.begin(), byParent.end(),
                               std::make_pair(processId, std::size_t{0}),
                               [](const auto& a, const auto& b) { return a.first < b.first; });
    for (; it != byParent.end() && it->first == processId; ++it) {
        const std::uint32_t child = walk.list->rows[it->second].processId;
        if (child == walk.self || OnPath(walk, child) || walk.done.count(child) != 0)
            continue;
        KillChildren(walk, child);
        walk.done.insert(child);
        KillProcess(child);
    }
    walk.path.pop_back();
}

// Ends, each with its descendants, the processes of this reading that
// escaped the walk from `root`: a child whose parent this stop has already
// ended (started just before the parent's end), and, where `session`,
// whatever still runs in the session that `root` leads (daemons that left
// the tree, orphans whose parent ended).
void KillStragglers(Walk& walk, std::uint32_t root, bool session) {
    for (const port::ProcessRecord& row : walk.list->rows) {
        const std::uint32_t id = row.processId;
        if (id == root || id == walk.self || walk.done.count(id) != 0)
            continue;
        const bool inSession = session && row.sessionId == root;
        if (!inSession && walk.done.count(row.parentProcessId) == 0)
            continue;
        walk.path.push_back(root);
        KillChildren(walk, id);
        walk.path.pop_back();
        walk.done.insert(id);
        KillProcess(id);
    }
}

// True when `root` leads a session of its own that the manager is not part
// of: then the whole session belongs to what stopping `root` ends.
bool OwnsItsSession(const ProcessList& list, std::uint32_t root, std::uint32_t self) {
    const port::ProcessRecord* leader = FindRow(list, root);
    if (leader == nullptr || leader->sessionId != root)
        return false;
    const port::ProcessRecord* manager = FindRow(list, self);
    return manager == nullptr || manager->sessionId != root;
}

} // namespace

void KillProcess(std::uint32_t processId) {
    const port::UniqueHandle process(port::OpenProcessForTermination(processId));
    if (!process) {
        // A process that ended on its own meanwhile is not a failure.
        if (!port::LastOpenFoundNoProcess())
            PrintMessage("Failed to open process with id: %d!", static_cast<int>(processId));
        return;
    }
    if (!port::TerminateProcessHandle(process.Get(), kKilledExitCode))
        PrintMessage("Failed to kill process with id: %d!", static_cast<int>(processId));
}

// The list is read once and the tree ended from that reading, children first
// and the root last; further readings then catch what was started meanwhile
// (children whose parent had already been ended, daemons of the session),
// until a reading finds nothing new.
void KillProcessTree(std::uint32_t root) {
    Walk walk{nullptr, port::CurrentProcessId(), {}, {}};
    if (root == walk.self)
        return;
    // Stopped first, so that the tree holds still while it is read and ended.
    port::SuspendProcess(root);
    ProcessList list;
    walk.list = &list;
    bool listed = ReadProcessList(&list);
    const bool session = listed && OwnsItsSession(list, root, walk.self);
    for (int reading = 1; listed; ++reading) {
        const std::size_t before = walk.done.size();
        KillChildren(walk, root);
        KillStragglers(walk, root, session);
        if (reading == 1) {
            walk.done.insert(root);
            KillProcess(root);
        }
        if ((reading > 1 && walk.done.size() == before) || reading == kMaxReadings)
            break;
        listed = ReadProcessList(&list);
    }
    if (walk.done.count(root) == 0)
        KillProcess(root);
    // What the list could not show (or could not be read for) in the group
    // of the application's own session ends in one step.
    port::EndProcessGroup(root);
}
