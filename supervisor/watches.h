// What is watched of an application besides its process: while it is
// starting, whether its [Ready] rule is met; while it runs, its [Health].
// Both run on timers and wait-table rows, never holding the loop.
#pragma once

#include "loop/timers.h"
#include "loop/wait_table.h"
#include "port/containment.h"
#include "port/probe.h"
#include "port/system.h"

#include <cstdint>
#include <string>

struct AppEntry;
enum class AppEvent : std::uint8_t;

// Called with what a watch found: AppEvent::Ready, ReadyTimedOut or
// HealthFailed.
using WatchReport = void (*)(AppEntry& entry, AppEvent event);

// Called when an HTTP GET is decided: a 2xx or 3xx status is a success.
using HttpDone = void (*)(AppEntry& entry, bool success);

// A GET under way (supervisor/http_get.h): its connection, its row, its time
// limit and what has come of the answer.
struct HttpGet {
    port::UniqueProbe exchange;
    WaitRow row;
    ScopedTimer limit;
    std::string answer;
    AppEntry* entry = nullptr;
    HttpDone done = nullptr;
};

// What a watch registers it owns: its end cancels it.
struct ReadinessWatch {
    bool active = false;
    WatchReport report = nullptr;
    ScopedTimer limit;       // its [ReadyTimeout]
    ScopedTimer next;        // the next connection attempt, or the end of its delay
    port::UniqueProbe probe; // the connection attempt under way
    WaitRow probeRow;
    HttpGet get; // the GET under way, for an http:// rule
    std::uint64_t getStartedMs = 0;
    bool heldSaid = false; // that another process holds its port was logged
};

// With [MaxMemory], while the application is up: its memory read every
// kMemoryCheckMs, and how many readings in a row were over the limit.
struct MemoryWatch {
    ScopedTimer next;
    WatchReport report = nullptr;
    std::uint32_t overInARow = 0;
    std::uint64_t highSet = 0; // the memory.high given to its container; 0: none
};

enum class Health : std::uint8_t { Unknown, Healthy, Unhealthy };

struct HealthWatch {
    bool active = false;
    WatchReport report = nullptr;
    ScopedTimer next;           // the next check
    ScopedTimer limit;          // the time limit of the check under way
    port::UniqueProbe probe;    // a port check under way
    port::UniqueHandle command; // a command check under way
    HttpGet get;                // an http:// check under way
    WaitRow probeRow;
    WaitRow commandRow;
    std::uint64_t startedMs = 0; // when the check under way began
    std::uint32_t failures = 0;  // in a row
    Health health = Health::Unknown;
    // With ContainProcesses: the container the commands run in, apart from
    // the application's, so that what a check leaves is ended with it.
    port::UniqueContainer container;
};
