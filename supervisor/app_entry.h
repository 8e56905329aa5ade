// Supervised applications: each entry attaches to a running copy of its
// executable or starts it, and starts it again whenever its process ends.
#pragma once

#include "loop/timers.h"
#include "loop/wait_table.h"
#include "port/process.h"
#include "port/system.h"
#include "port/types.h"
#include "supervisor/process_tree.h"
#include "supervisor/restart_delay.h"
#include "supervisor/retry_starts.h"

#include <string>
#include <vector>

// What the configuration says of one application beyond its executable and
// parameters.
struct AppPlace {
    std::string directory;                // where it starts; empty: its executable's directory
    std::vector<std::string> environment; // NAME=VALUE added to what it inherits

    bool operator==(const AppPlace&) const = default;
};

class AppEntry {
  public:
    // Attaches to a running copy of `path` or launches it; prints what happened.
    AppEntry(const char* name, const char* path, const char* parameters,
             AppPlace place = AppPlace{});
    AppEntry(const AppEntry&) = delete;
    AppEntry& operator=(const AppEntry&) = delete;

    // Starts the executable. Expects the entry to be stopped.
    void Launch();

    // Ends the entry's whole process tree. With a stop time limit the tree
    // is asked to end first and the entry is stopping until it has, or until
    // the limit ends it; without one it ends at once. Expects the entry to
    // be running.
    void Stop();

    // Ends the tree of a stopping entry at once (a second "stop", "quit").
    void EndStopNow();

    bool IsRunning() const { return process && !stopping; }
    bool IsStopping() const { return stopping; }
    // Stopped, with a relaunch pending after a quick exit, or given up on.
    bool IsWaiting() const { return backoff.timer != 0; }
    bool GaveUp() const { return backoff.gaveUp; }

    // An operator's start (or restart): forgets quick exits, a pending
    // relaunch and a give-up, then launches.
    void StartByOperator();

    std::string name;
    std::string path;
    std::string parameters;
    AppPlace place;
    // Gone from the configuration at a reload: its number stays, empty.
    bool removed = false;
    // Null while stopped; else the process supervised, registered in the
    // wait table while it runs, also while it is stopping.
    port::UniqueHandle process;

    // Seconds a stop waits for the tree to end after asking it to; 0 ends
    // the tree at once.
    std::uint32_t stopTimeoutSeconds;
    // A polite stop under way: what it asked to end, its time limit, and the
    // next look at the tree once its root has ended. The same wait, without
    // messages, holds a relaunch until the leftovers of an exit have ended.
    bool stopping = false;
    bool awaitingLeftovers = false;
    bool startWhenStopped = false; // "restart" while stopping, or a relaunch
    StoppingTree stoppingTree;
    TimerId stopLimit = 0;
    TimerId stopCheck = 0;

    // New attempts after failed starts (see retry_starts.h), and pauses
    // before relaunches after quick exits (see restart_delay.h).
    StartRetry retry;
    RestartBackoff backoff;

    // For the status report: when the current process was taken under
    // supervision (port::NowMs), and how often a process was supervised
    // after the first.
    std::uint64_t startedMs = 0;
    std::uint32_t restarts = 0;
    bool supervisedOnce = false;
    // How the last process ended on its own, when the system told.
    bool lastExitKnown = false;
    port::ExitStatus lastExit{};
};

inline constexpr int kMaxApplications = 15;

// Paths are limited to what the system's path buffers hold.
inline constexpr std::size_t kMaxPathLength = 259;

struct AppTable {
    AppEntry* entries[kMaxApplications];
    std::int32_t count;
};

extern AppTable appTable;

// Entries created between these two calls (start-up creates all of them at
// once) share one reading of the process list while they look for running
// copies: the list is read when the first of them looks, and the processes
// the batch itself starts are added to it as they start.
void BeginAttachBatch();
void EndAttachBatch();

// Set from the configuration: what is left of an application's tree when it
// ends on its own is ended before it is started again.
extern bool EndLeftoversFlag;

// Set while the manager ends every application before it ends itself
// (headless, on a request to end): nothing is started or started again.
extern bool ShutdownUnderWay;

// Set from the configuration: the stop time limit of an application that
// names none of its own; 0 ends trees at once.
extern std::uint32_t DefaultStopTimeoutSeconds;

// The longest stop time limit the configuration may ask for (one hour).
inline constexpr std::uint32_t kMaxStopTimeoutSeconds = 3600;

// How often a stopping tree is looked at after its root has ended.
inline constexpr std::uint32_t kStopCheckMs = 100;

// How long a relaunch waits at most for the leftovers it ended to be gone.
inline constexpr std::uint32_t kLeftoversLimitMs = 2000;

// The wait callback of an application's process handle: the process has
// ended, so it is started again.
void OnAppExit(WaitTable* table, std::int32_t index, void* context);
