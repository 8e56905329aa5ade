#include "supervisor/attach.h"

#include "common/text.h"
#include "port/identity.h"
#include "port/process.h"
#include "port/user.h"

#include <algorithm>

namespace {

// The process list is first read with room for this many ids; a full buffer
// means there may be more, and it is read again with twice the room.
constexpr std::uint32_t kFirstListCapacity = 4096;

// Every running process id, however many there are.
bool ListAllProcessIds(std::vector<std::uint32_t>* ids) {
    std::uint32_t capacity = kFirstListCapacity;
    for (;;) {
        ids->resize(capacity);
        std::uint32_t count = 0;
        if (!port::ListProcessIds(ids->data(), capacity, &count))
            return false;
        if (count < capacity) {
            ids->resize(count);
            return true;
        }
        capacity *= 2;
    }
}

// Reads the executable of every process but this one (an entry naming the
// manager's own executable must never attach to the manager).
bool ReadRunningImages(std::vector<RunningImage>* rows) {
    rows->clear();
    std::vector<std::uint32_t> ids;
    if (!ListAllProcessIds(&ids))
        return false;
    const std::uint32_t self = port::CurrentProcessId();
    std::string image;
    for (std::uint32_t id : ids) {
        if (id != 0 && id != self && port::ProcessImageById(id, &image))
            rows->push_back(RunningImage{id, image});
    }
    return true;
}

// Opens a process found by its image, and checks that the open process is
// still the one that was read (its id may have been reused meanwhile).
port::UniqueHandle OpenMatching(std::uint32_t processId, const std::string& wanted) {
    port::UniqueHandle process(port::OpenProcessFull(processId));
    if (!process)
        return process;
    std::string image;
    std::string canonical;
    if (port::ProcessImageName(process.Get(), &image) &&
        port::CanonicalPath(image.c_str(), &canonical) && AsciiEqualNoCase(wanted, canonical))
        return process;
    return port::UniqueHandle();
}

// The processes of `matches` (in list order) in the order they are tried:
// first those whose parent is not itself a match, then the rest. A server
// whose workers run its own executable is so found by its master, whatever
// ids the workers have. The parents are read only when there is a choice.
std::vector<std::uint32_t> AttachOrder(const std::vector<std::uint32_t>& matches) {
    if (matches.size() < 2)
        return matches;
    auto isMatch = [&](std::uint32_t id) {
        return std::find(matches.begin(), matches.end(), id) != matches.end();
    };
    std::vector<std::uint32_t> childOfMatch;
    const port::UniqueProcessSnapshot snapshot(port::OpenProcessSnapshot());
    port::ProcessRecord record{};
    for (bool more = snapshot && port::FirstProcess(snapshot.get(), &record); more;
         more = port::NextProcess(snapshot.get(), &record)) {
        if (record.parentProcessId != record.processId && isMatch(record.processId) &&
            isMatch(record.parentProcessId))
            childOfMatch.push_back(record.processId);
    }
    std::vector<std::uint32_t> order;
    std::vector<std::uint32_t> rest;
    for (std::uint32_t id : matches) {
        const bool child =
            std::find(childOfMatch.begin(), childOfMatch.end(), id) != childOfMatch.end();
        (child ? rest : order).push_back(id);
    }
    order.insert(order.end(), rest.begin(), rest.end());
    return order;
}

// Whether the rule admits a process that runs the executable, by its id.
// The arguments are looked at only for a process the record does not name:
// the one it names was started for the entry, whatever its command line
// says now (servers rewrite it as their process title).
bool Admits(const CopyRule& rule, const AttachBatch& batch, std::uint32_t processId,
            bool recorded = false) {
    if (std::find(batch.reserved.begin(), batch.reserved.end(), processId) != batch.reserved.end())
        return false;
    std::uint32_t userId = 0;
    if (rule.byUser &&
        (rule.userUnknown || !port::ProcessUserId(processId, &userId) || userId != rule.userId))
        return false;
    if (!rule.byCommandLine)
        return true;
    if (std::find(batch.taken.begin(), batch.taken.end(), processId) != batch.taken.end())
        return false;
    if (recorded)
        return true;
    std::vector<std::string> arguments;
    return port::ProcessArguments(processId, &arguments) &&
           SameArguments(rule.arguments, arguments);
}

// The recorded process, opened, when it still runs the executable with the
// start time recorded and the rule admits it.
port::UniqueHandle OpenRecorded(const CopyRule& rule, const AttachBatch& batch,
                                const std::string& canonical) {
    std::uint64_t started = 0;
    if (rule.recordedId == 0 || rule.recordedId == port::CurrentProcessId() ||
        !Admits(rule, batch, rule.recordedId, true))
        return port::UniqueHandle();
    port::UniqueHandle process = OpenMatching(rule.recordedId, canonical);
    // Read once it is open: a process that ended meanwhile cannot pass on
    // its id with its start time.
    if (process && port::ProcessStartTime(rule.recordedId, &started) &&
        started == rule.recordedStart)
        return process;
    return port::UniqueHandle();
}

} // namespace

bool SameArguments(const std::vector<std::string>& wanted,
                   const std::vector<std::string>& running) {
    return wanted == running;
}

AttachResult FindRunningCopy(const std::string& path, const CopyRule& rule, AttachBatch& batch,
                             port::UniqueHandle* found, std::string* canonical) {
    // The configured path is resolved once and compared with each process's
    // already canonical image, so a process is opened only when it matches.
    if (!port::CanonicalPath(path.c_str(), canonical))
        return AttachResult::NoPath;
    *found = OpenRecorded(rule, batch, *canonical);
    if (*found)
        return AttachResult::Found;
    if (!batch.read) {
        batch.listed = ReadRunningImages(&batch.rows);
        batch.read = true;
    }
    if (!batch.listed)
        return AttachResult::NoList;
    std::vector<std::uint32_t> matches;
    for (const RunningImage& row : batch.rows)
        if (AsciiEqualNoCase(*canonical, row.image) && Admits(rule, batch, row.processId))
            matches.push_back(row.processId);
    for (std::uint32_t processId : AttachOrder(matches)) {
        *found = OpenMatching(processId, *canonical);
        if (*found)
            return AttachResult::Found;
    }
    return AttachResult::NotFound;
}

void NoteStarted(AttachBatch& batch, std::uint32_t processId, const std::string& canonical) {
    if (batch.read && processId != 0)
        batch.rows.push_back(RunningImage{processId, canonical});
}
