#include "supervisor/attach.h"

#include "common/text.h"
#include "port/identity.h"
#include "port/process.h"
#include "port/user.h"

#include <algorithm>

namespace {

// Reads, in one reading of the process list, the executable and parent of
// every process but this one (an entry naming the manager's own executable
// must never attach to the manager) whose executable can be read.
bool ReadRunningImages(std::vector<RunningImage>* rows) {
    rows->clear();
    std::vector<port::ProcessRecord> list;
    if (!port::ListProcesses(&list, true))
        return false;
    const std::uint32_t self = port::CurrentProcessId();
    for (port::ProcessRecord& row : list)
        if (row.processId != 0 && row.processId != self && !row.image.empty())
            rows->push_back(RunningImage{row.processId, row.parentProcessId, std::move(row.image)});
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

// The processes of `matches` (rows of the reading, in list order) in the
// order they are tried: first those whose parent is not itself a match, then
// the rest. A server whose workers run its own executable is so found by its
// master, whatever ids the workers have.
std::vector<std::uint32_t> AttachOrder(const std::vector<const RunningImage*>& matches) {
    auto isMatch = [&](std::uint32_t id) {
        return std::any_of(matches.begin(), matches.end(),
                           [id](const RunningImage* row) { return row->processId == id; });
    };
    std::vector<std::uint32_t> order;
    std::vector<std::uint32_t> rest;
    for (const RunningImage* row : matches) {
        const bool childOfMatch =
            row->parentProcessId != row->processId && isMatch(row->parentProcessId);
        (childOfMatch ? rest : order).push_back(row->processId);
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
    std::vector<const RunningImage*> matches;
    for (const RunningImage& row : batch.rows)
        if (AsciiEqualNoCase(*canonical, row.image) && Admits(rule, batch, row.processId))
            matches.push_back(&row);
    for (std::uint32_t processId : AttachOrder(matches)) {
        *found = OpenMatching(processId, *canonical);
        if (*found)
            return AttachResult::Found;
    }
    return AttachResult::NotFound;
}

void NoteStarted(AttachBatch& batch, std::uint32_t processId, const std::string& canonical) {
    // Its parent is the manager, which is never a copy.
    if (batch.read && processId != 0)
        batch.rows.push_back(RunningImage{processId, port::CurrentProcessId(), canonical});
}
