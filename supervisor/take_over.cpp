#include "supervisor/take_over.h"

#include "console/console.h"
#include "port/identity.h"
#include "port/process.h"
#include "port/user.h"
#include "supervisor/app_events.h"
#include "supervisor/app_table.h"
#include "supervisor/containment.h"
#include "supervisor/launch.h"
#include "supervisor/start_record.h"
#include "supervisor/supervision.h"

#include <algorithm>
#include <string>
#include <utility>

namespace {

// The record names the process as the one this manager's predecessor
// started for the entry: same id, same start time.
bool StartedByPredecessor(const AppEntry& entry, std::uint32_t processId) {
    const RecordedProcess* recorded =
        RecordedProcessOf(supervision.record, entry.settings.name, entry.place);
    std::uint64_t started = 0;
    return recorded != nullptr && recorded->processId == processId &&
           port::ProcessStartTime(processId, &started) && started == recorded->startTime;
}

// Supervises a copy found running: "%s already running, attached!".
void AttachTo(AppEntry& entry, port::UniqueHandle running) {
    const std::uint32_t processId = port::ProcessIdOf(running.Get());
    const bool ours = StartedByPredecessor(entry, processId);
    if (!Supervise(entry, std::move(running), OnAppExit))
        return;
    // The copy found ran before the manager took it over.
    const std::uint64_t age = port::ProcessAgeMs(entry.process.Get());
    entry.startedMs -= std::min(age, entry.startedMs);
    PrintMessage("%s already running, attached!", entry.settings.name.c_str());
    Dispatch(entry, AppEvent::Launched);
    // A copy found running is ready at once, whatever its rule.
    if (entry.state == AppState::Starting)
        Dispatch(entry, AppEvent::Ready);
    // A predecessor that ended in the middle of a stop left its tree frozen:
    // it runs again. Anyone else's stop (a debugger, an operator's SIGSTOP)
    // is theirs to end.
    if (!port::ProcessStopped(processId))
        return;
    if (ours && port::ResumeIfStopped(processId))
        PrintMessage("Resumed %s, which was left stopped.", entry.settings.name.c_str());
    else
        PrintMessage("%s is stopped; it is left so.", entry.settings.name.c_str());
}

// The process the entry holds now is taken for the rest of the batch.
void NoteTaken(AttachBatch& batch, const AppEntry& entry) {
    if (!entry.process)
        return;
    batch.taken.push_back(port::ProcessIdOf(entry.process.Get()));
    if (entry.contained)
        batch.reserved.push_back(batch.taken.back());
}

// Attaches to what the entry's own container holds, whatever the
// executable. False when it holds nothing the entry may take.
bool AttachToContainedCopy(AppEntry& entry, AttachBatch& batch) {
    std::vector<std::uint64_t>& tried = batch.containersTried;
    if (entry.process || entry.settings.path.size() > kMaxPathLength ||
        std::find(tried.begin(), tried.end(), entry.serial) != tried.end() ||
        !ContainmentWanted(entry))
        return false;
    tried.push_back(entry.serial);
    port::UniqueHandle running = FindContainedCopy(
        entry, RecordedProcessOf(supervision.record, entry.settings.name, entry.place),
        batch.taken);
    if (!running)
        return false;
    entry.contained = true;
    AttachTo(entry, std::move(running));
    NoteTaken(batch, entry);
    return true;
}

CopyRule RuleOf(const AppEntry& entry, const RecordedProcess* recorded) {
    CopyRule rule;
    rule.byCommandLine = entry.settings.attachByCommandLine;
    if (rule.byCommandLine)
        rule.arguments = port::SplitParameters(entry.settings.parameters.c_str());
    rule.byUser = !entry.settings.user.empty();
    if (rule.byUser)
        rule.userUnknown = !port::UserIdByName(entry.settings.user.c_str(), &rule.userId);
    if (recorded != nullptr) {
        rule.recordedId = recorded->processId;
        rule.recordedStart = recorded->startTime;
    }
    return rule;
}

} // namespace

void ClaimContainedCopies(const std::vector<AppEntry*>& entries, AttachBatch& batch) {
    for (AppEntry* entry : entries)
        AttachToContainedCopy(*entry, batch);
}

void TakeUnderSupervision(AppEntry& entry, AttachBatch& batch, bool inOrder) {
    // Claimed already through its container.
    if (entry.process)
        return;
    if (PathTooLong(entry) || AttachToContainedCopy(entry, batch))
        return;
    const RecordedProcess* recorded =
        RecordedProcessOf(supervision.record, entry.settings.name, entry.place);
    port::UniqueHandle running;
    entry.contained = false;
    std::string canonical;
    switch (FindRunningCopy(entry.settings.path, RuleOf(entry, recorded), batch, &running,
                            &canonical)) {
    case AttachResult::NoPath:
        // A start that fails before it could look for a running copy (the
        // executable is not there yet) is tried again like any failed start.
        PrintMessage("Could not get FileShortName!");
        Dispatch(entry, AppEvent::LaunchFailed);
        return;
    case AttachResult::NoList:
        PrintMessage("Could not get process list!");
        Dispatch(entry, AppEvent::LaunchFailed);
        return;
    case AttachResult::Found:
        AttachTo(entry, std::move(running));
        NoteTaken(batch, entry);
        return;
    case AttachResult::NotFound:
        // One that keeps the start order may have to wait for it.
        entry.orderedStart = inOrder;
        Dispatch(entry, AppEvent::StartAsked);
        if (IsUp(entry))
            NoteStarted(batch, port::ProcessIdOf(entry.process.Get()), canonical);
        NoteTaken(batch, entry);
        return;
    }
}

AppEntry* CreateApplication(AppSettings settings, AttachBatch& batch, OutputOpener openOutput) {
    AppEntry* entry = AppendApplication(std::move(settings), openOutput);
    if (entry != nullptr)
        TakeUnderSupervision(*entry, batch);
    return entry;
}
