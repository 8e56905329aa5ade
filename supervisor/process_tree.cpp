#include "supervisor/process_tree.h"

#include "console/console.h"
#include "loop/event_loop.h"
#include "port/process.h"
#include "port/system.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
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

// A stopping tree that runs processes it cannot watch by handle reads the
// whole process list at most this often.
constexpr std::uint64_t kTreeReadingIntervalMs = 1000;

// The handles a stopping tree holds to watch its members: at most this many
// per tree (the rest are seen in the readings), so that fifteen trees stay
// well within the descriptors a process may open.
constexpr std::size_t kMostWatchedMembers = 32;

} // namespace

bool ReadProcessList(ProcessList* list, bool report) {
    list->byParent.clear();
    if (!port::ListProcesses(&list->rows)) {
        if (report)
            PrintMessage("Failed to get process list!");
        return false;
    }
    if (list->rows.empty()) {
        if (report)
            PrintMessage("Failed to get first entry in process list!");
        return false;
    }
    for (std::size_t i = 0; i < list->rows.size(); ++i)
        list->byParent.emplace_back(list->rows[i].parentProcessId, i);
    std::sort(list->byParent.begin(), list->byParent.end());
    return true;
}

bool InTree(const ProcessList& list, std::uint32_t root, std::uint32_t processId) {
    if (processId == root)
        return true;
    std::unordered_map<std::uint32_t, std::uint32_t> parents;
    for (const port::ProcessRecord& row : list.rows) {
        if (row.processId == processId && row.sessionId == root)
            return true;
        parents.emplace(row.processId, row.parentProcessId);
    }
    // At most one step per process listed, so that a loop of ids cannot hold it.
    std::uint32_t at = processId;
    for (std::size_t steps = 0; steps <= parents.size(); ++steps) {
        const auto parent = parents.find(at);
        if (parent == parents.end() || parent->second == 0)
            return false;
        if (parent->second == root)
            return true;
        at = parent->second;
    }
    return false;
}

namespace {

const ProcessList* ReadShared(SharedReading& shared, bool report) {
    shared.listed = ReadProcessList(&shared.list, report);
    ++shared.number;
    shared.takenMs = port::NowMs();
    return shared.listed ? &shared.list : nullptr;
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
    // The group ended in one step already (0: none): its members are not
    // signalled again.
    std::uint32_t endedGroup = 0;
    int signalled = 0; // processes this walk ended one by one
};

// Ends one process of the walk, unless the group it is in was ended already.
void EndOne(Walk& walk, const port::ProcessRecord* row, std::uint32_t processId) {
    walk.done.insert(processId);
    if (walk.endedGroup != 0 &&
        (processId == walk.endedGroup || (row != nullptr && row->groupId == walk.endedGroup)))
        return;
    ++walk.signalled;
    KillProcess(processId);
}

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
        const port::ProcessRecord& row = walk.list->rows[it->second];
        const std::uint32_t child = row.processId;
        if (row.ended || child == walk.self || OnPath(walk, child) || walk.done.count(child) != 0)
            continue;
        KillChildren(walk, child);
        EndOne(walk, &row, child);
    }
    walk.path.pop_back();
}

// Which processes belong to the tree of `root` besides its descendants: the
// rest of the session it leads and of the group it leads (daemons that left
// the tree, orphans whose parent ended), when the manager is in neither.
struct Fellows {
    bool session = false;
    bool group = false;
};

bool IsFellow(const port::ProcessRecord& row, std::uint32_t root, Fellows fellows) {
    return (fellows.session && row.sessionId == root) || (fellows.group && row.groupId == root);
}

// The fellows of `root` in this reading: its session when it leads one of
// its own, and, with `withGroup`, the group it leads.
Fellows FellowsOf(const ProcessList& list, std::uint32_t root, std::uint32_t self, bool withGroup) {
    const port::ProcessRecord* leader = FindRow(list, root);
    const port::ProcessRecord* manager = FindRow(list, self);
    Fellows fellows;
    if (leader == nullptr)
        return fellows;
    fellows.session =
        leader->sessionId == root && (manager == nullptr || manager->sessionId != root);
    fellows.group =
        withGroup && leader->groupId == root && (manager == nullptr || manager->groupId != root);
    return fellows;
}

// The live processes of the tree of `root` in this reading: the root, its
// descendants, and its fellows with their descendants; never the manager.
std::vector<std::uint32_t> TreeIds(const ProcessList& list, std::uint32_t root, Fellows fellows,
                                   std::uint32_t self) {
    std::vector<std::uint32_t> found;
    std::unordered_set<std::uint32_t> seen{self};
    std::vector<std::uint32_t> next{root};
    seen.insert(root);
    for (const port::ProcessRecord& row : list.rows)
        if (IsFellow(row, root, fellows) && seen.insert(row.processId).second)
            next.push_back(row.processId);
    // Breadth first; `seen` also guards against cycles of parent ids.
    for (std::size_t i = 0; i < next.size(); ++i) {
        const std::uint32_t id = next[i];
        const port::ProcessRecord* row = FindRow(list, id);
        if (row != nullptr && !row->ended)
            found.push_back(id);
        auto it = std::lower_bound(list.byParent.begin(), list.byParent.end(),
                                   std::make_pair(id, std::size_t{0}),
                                   [](const auto& a, const auto& b) { return a.first < b.first; });
        for (; it != list.byParent.end() && it->first == id; ++it) {
            const std::uint32_t child = list.rows[it->second].processId;
            if (seen.insert(child).second)
                next.push_back(child);
        }
    }
    return found;
}

// Ends, each with its descendants, the processes of this reading that
// escaped the walk from `root`: a child whose parent this stop has already
// ended (started just before the parent's end), and the fellows of `root`.
void KillStragglers(Walk& walk, std::uint32_t root, Fellows fellows) {
    for (const port::ProcessRecord& row : walk.list->rows) {
        const std::uint32_t id = row.processId;
        if (row.ended || id == root || id == walk.self || walk.done.count(id) != 0)
            continue;
        if (!IsFellow(row, root, fellows) && walk.done.count(row.parentProcessId) == 0)
            continue;
        walk.path.push_back(root);
        KillChildren(walk, id);
        walk.path.pop_back();
        EndOne(walk, &row, id);
    }
}

// Ends the tree of `root` (its group too with `withGroup`). A root that
// leads a session of its own (every application the manager starts on
// Linux) ends with its whole group in one step first, children being forked
// at that moment included: the kernel's speed. Otherwise it is stopped
// first, so that the tree holds still while it is read. Then the list is
// read once and what is left of the tree (members outside the group: the
// rest of the session, descendants that left the group) is ended from that
// reading, children first and the root last; only when that ended any does
// a further reading look for what was started meanwhile, until one finds
// nothing new. Fills *ended, when given, with the processes besides the
// root that it ended (or tried to).
void EndTree(std::uint32_t root, bool withGroup, StoppingTree* ended) {
    Walk walk{nullptr, port::CurrentProcessId(), {}, {}, 0, 0};
    if (root == walk.self)
        return;
    // The leftovers of an exit are counted and watched one by one: they are
    // read before they are ended.
    if (ended == nullptr && port::EndProcessGroup(root))
        walk.endedGroup = root;
    else
        port::SuspendProcess(root);
    ProcessList list;
    walk.list = &list;
    bool listed = ReadProcessList(&list);
    Fellows fellows = listed ? FellowsOf(list, root, walk.self, withGroup) : Fellows{};
    // Its group ended, the root led its session (which the manager is not
    // in), whether the reading still shows it or not.
    if (walk.endedGroup != 0)
        fellows.session = true;
    for (int reading = 1; listed; ++reading) {
        const int before = walk.signalled;
        KillChildren(walk, root);
        KillStragglers(walk, root, fellows);
        if (reading == 1)
            EndOne(walk, FindRow(list, root), root);
        if (walk.signalled == before || reading == kMaxReadings)
            break;
        listed = ReadProcessList(&list);
    }
    if (walk.done.count(root) == 0 && walk.endedGroup == 0)
        KillProcess(root);
    // What the list could not show (or could not be read for) in the group
    // of the application's own session ends in one step.
    if (walk.endedGroup == 0)
        port::EndProcessGroup(root);
    if (ended != nullptr) {
        *ended = StoppingTree{root, fellows.session, fellows.group, {}};
        for (std::uint32_t id : walk.done)
            if (id != root)
                ended->members.push_back(id);
        std::sort(ended->members.begin(), ended->members.end());
    }
}

} // namespace

void KillProcess(std::uint32_t processId) {
    const port::UniqueHandle process(port::OpenProcessForTermination(processId));
    if (!process) {
        // A process that ended on its own meanwhile is not a failure.
        if (port::LastError() != port::kErrorNoProcess)
            PrintMessage("Failed to open process with id: %d!", static_cast<int>(processId));
        return;
    }
    if (!port::TerminateProcessHandle(process.Get(), kKilledExitCode))
        PrintMessage("Failed to kill process with id: %d!", static_cast<int>(processId));
}

void KillProcessTree(std::uint32_t root) {
    EndTree(root, false, nullptr);
}

std::size_t EndLeftovers(std::uint32_t root, StoppingTree* ended) {
    EndTree(root, true, ended);
    return ended->members.size();
}

void AskTreeToEnd(SharedReading& shared, std::uint32_t root, StoppingTree* tree, int signal,
                  bool mainOnly) {
    *tree = StoppingTree{};
    tree->root = root;
    const std::uint32_t self = port::CurrentProcessId();
    if (root == self)
        return;
    // "stopall" asks every tree in one go: they share a reading taken a
    // moment ago, as long as it shows the root.
    const bool recent = shared.listed && port::NowMs() - shared.takenMs < kEventLoopPauseMs / 2 &&
                        FindRow(shared.list, root) != nullptr;
    const ProcessList* read = recent ? &shared.list : ReadShared(shared, true);
    if (read == nullptr) {
        if (!mainOnly)
            port::AskProcessGroupToEnd(root, signal);
        port::AskProcessToEnd(root, signal);
        return;
    }
    const ProcessList& list = *read;
    const Fellows fellows = FellowsOf(list, root, self, true);
    tree->session = fellows.session;
    tree->group = fellows.group;
    if (mainOnly)
        port::AskProcessToEnd(root, signal);
    // The group in one step, so that children it forks meanwhile hear it too;
    // everyone else of the tree one by one.
    else if (fellows.group)
        port::AskProcessGroupToEnd(root, signal);
    for (std::uint32_t id : TreeIds(list, root, fellows, self)) {
        const port::ProcessRecord* row = FindRow(list, id);
        if (!mainOnly && !(fellows.group && row != nullptr && row->groupId == root))
            port::AskProcessToEnd(id, signal);
        if (id != root)
            tree->members.push_back(id);
    }
}

namespace {

// Opens handles for the live `ids`, as far as the watch has room. False when
// one of them runs on without a handle.
bool Watch(const std::vector<std::uint32_t>& ids, MemberWatch* watch) {
    for (std::uint32_t id : ids) {
        port::UniqueHandle member(watch->members.size() < kMostWatchedMembers
                                      ? port::OpenProcessFull(id)
                                      : port::kNullHandle);
        if (member && !port::ProcessEnded(member.Get()))
            watch->members.push_back(std::move(member));
        else if (!member && (watch->members.size() >= kMostWatchedMembers ||
                             port::LastError() != port::kErrorNoProcess))
            return false;
    }
    return true;
}

} // namespace

void WatchMembers(const SharedReading& shared, const StoppingTree& tree, MemberWatch* watch) {
    watch->members.clear();
    watch->staleReading = shared.number;
    watch->unwatched = !Watch(tree.members, watch);
}

bool TreeRemains(SharedReading& shared, const StoppingTree& tree, MemberWatch* watch) {
    auto& members = watch->members;
    members.erase(std::remove_if(members.begin(), members.end(),
                                 [](const port::UniqueHandle& member) {
                                     return port::ProcessEnded(member.Get());
                                 }),
                  members.end());
    if (!members.empty())
        return true;
    // Every watched member has ended: a reading taken since then shows what
    // else of the tree runs. With processes that it cannot watch, a tree
    // reads anew only once a second.
    const ProcessList* list = nullptr;
    if (shared.number > watch->staleReading)
        list = shared.listed ? &shared.list : nullptr;
    else if (!watch->unwatched || port::NowMs() - shared.takenMs >= kTreeReadingIntervalMs)
        list = ReadShared(shared, false);
    else
        return true;
    if (list == nullptr) {
        watch->staleReading = shared.number; // unknown: read again, or the limit decides
        return true;
    }
    const std::uint32_t self = port::CurrentProcessId();
    std::vector<std::uint32_t> live =
        TreeIds(*list, tree.root, Fellows{tree.session, tree.group}, self);
    // Members whose parent ended before them were handed to another parent.
    for (std::uint32_t id : tree.members) {
        const port::ProcessRecord* row = FindRow(*list, id);
        if (row != nullptr && !row->ended)
            live.push_back(id);
    }
    if (live.empty())
        return false;
    watch->staleReading = shared.number;
    watch->unwatched = !Watch(live, watch);
    return true;
}
