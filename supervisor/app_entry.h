// Supervised applications: each entry attaches to a running copy of its
// executable or starts it, and starts it again whenever its process ends.
#pragma once

#include "loop/wait_table.h"
#include "port/process.h"
#include "port/system.h"
#include "port/types.h"
#include "supervisor/retry_starts.h"

#include <string>

class AppEntry {
  public:
    // Attaches to a running copy of `path` or launches it; prints what happened.
    AppEntry(const char* name, const char* path, const char* parameters);
    AppEntry(const AppEntry&) = delete;
    AppEntry& operator=(const AppEntry&) = delete;

    // Starts the executable. Expects the entry to be stopped.
    void Launch();

    // Ends the entry's whole process tree. Expects the entry to be running.
    void Stop();

    bool IsRunning() const { return static_cast<bool>(process); }

    std::string name;
    std::string path;
    std::string parameters;
    // Null while stopped; else the process supervised, registered in the
    // wait table for as long as the entry holds it.
    port::UniqueHandle process;

    // New attempts after failed starts (see retry_starts.h).
    StartRetry retry;

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

// The wait callback of an application's process handle: the process has
// ended, so it is started again.
void OnAppExit(WaitTable* table, std::int32_t index, void* context);
