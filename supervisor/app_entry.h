// One supervised application: its settings, its one state, its process and
// what is under way for it (a stop, a planned start). The state changes only
// through Dispatch (supervisor/app_events.h).
#pragma once

#include "config/settings.h"
#include "loop/timers.h"
#include "loop/wait_table.h"
#include "port/containment.h"
#include "port/file.h"
#include "port/process.h"
#include "port/system.h"
#include "supervisor/app_state.h"
#include "supervisor/exit_policy.h"
#include "supervisor/pending_start.h"
#include "supervisor/process_tree.h"
#include "supervisor/watches.h"

#include <cstdint>
#include <string>
#include <vector>

struct AppEntry;

// Where a launched program's output goes: the layer that keeps the
// applications' output gives the write end of a pipe for it; null: nowhere.
using OutputOpener = port::UniqueFile (*)(AppEntry& entry);

// Called with an event that a stop under way brings about (its time limit,
// the end of its tree).
using StopReport = void (*)(AppEntry& entry, AppEvent event);

// A stop under way (the entry's state says whether one is): the tree it
// asked (or ended, for the leftovers of an exit), its time limit, and the
// next look at the tree once its root ended.
struct StopUnderWay {
    bool contained = false; // the tree is the entry's container: its end is the container's
    StoppingTree tree;
    MemberWatch watch;
    WaitRow memberRow; // the end of one member of `watch`, once the root has ended
    ScopedTimer limit;
    ScopedTimer check;
    StopReport report = nullptr;
};

struct AppEntry {
    explicit AppEntry(AppSettings settings_, OutputOpener openOutput_ = nullptr)
        : settings(std::move(settings_)), openOutput(openOutput_) {}
    AppEntry(const AppEntry&) = delete;
    AppEntry& operator=(const AppEntry&) = delete;

    AppSettings settings;
    // Tells this entry from any that held its number before: no two entries
    // of one manager share it.
    std::uint64_t serial = 0;
    // Its place among the applications listed under exactly its name (0 for
    // the first), fixed when it enters the table: what tells apart its
    // container and its row of the start record from theirs.
    int place = 0;
    OutputOpener openOutput;
    AppState state = AppState::Stopped;
    // Null while no process is supervised; else held, and watched by its
    // row of the wait table while it runs or stops.
    port::UniqueHandle process;
    WaitRow processRow;
    StopUnderWay stop;
    PendingStart pendingStart;
    DoublingDelay retryDelay;  // the waits after failed starts in a row
    RestartCount restartCount; // the quick exits in a row and their pauses

    // For the status report: when the current process was taken under
    // supervision (port::NowMs), and how often a process was supervised
    // after the first.
    std::uint64_t startedMs = 0;
    std::uint32_t restarts = 0;
    bool supervisedOnce = false;
    // How the last process ended on its own, when the system told.
    bool lastExitKnown = false;
    port::ExitStatus lastExit{};

    // The start order: the applications it starts after ([After], resolved
    // by supervisor/app_order.h), and whether the start under way keeps that
    // order.
    std::vector<AppEntry*> after;
    bool orderedStart = false;
    // Its readiness while it starts, its health while it runs, and the last
    // STATUS= text its processes sent to the notify socket.
    ReadinessWatch readiness;
    HealthWatch health;
    std::string notifyStatus;
    // Its memory against its [MaxMemory], while it is up.
    MemoryWatch memory;
    // With [General] ContainProcesses: the application's container (see
    // supervisor/containment.h), its name, and whether the current process
    // is held in it (a copy found running outside it is followed as a tree).
    port::UniqueContainer container;
    std::string containerName;
    bool contained = false;
};

// A process of the application runs, ready or not.
inline bool IsUp(const AppEntry& entry) {
    return IsUp(entry.state);
}

// Every application it starts after is ready.
inline bool OrderMet(const AppEntry& entry) {
    for (const AppEntry* before : entry.after)
        if (before->state != AppState::Running)
            return false;
    return true;
}
