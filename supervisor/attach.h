// Finding a running copy of an application's executable, to supervise it
// instead of starting another.
#pragma once

#include "port/system.h"

#include <cstdint>
#include <string>
#include <vector>

// One running process, its parent and the canonical name of its executable.
struct RunningImage {
    std::uint32_t processId;
    std::uint32_t parentProcessId;
    std::string image;
};

// The applications created together (start-up creates all of them at once,
// a reload those it adds) share one reading of the process list: it is read
// when the first of them looks, and the processes the batch itself starts
// are added to it as they start.
struct AttachBatch {
    bool read = false;
    bool listed = false; // the list could be read
    std::vector<RunningImage> rows;
    // The processes that applications hold already: with AttachByCommandLine
    // a process is taken by one entry at most.
    std::vector<std::uint32_t> taken;
    // Those of them that are one application's alone, and no copy for any
    // other: held through its container, or being stopped.
    std::vector<std::uint32_t> reserved;
    // The entries (by serial) whose own containers were looked into.
    std::vector<std::uint64_t> containersTried;
};

// Which running process is an entry's copy besides its executable.
struct CopyRule {
    // [General] AttachByCommandLine: its arguments must be these (the
    // configured parameters as the launch splits them), and it must not be
    // taken; a process whose arguments cannot be read is no copy.
    bool byCommandLine = false;
    std::vector<std::string> arguments;
    // [User]: it must run as this user; with `userUnknown` (no such
    // account) nothing is a copy.
    bool byUser = false;
    bool userUnknown = false;
    std::uint32_t userId = 0;
    // The process the record says was started for the entry, tried before
    // any search: still running with the same start time, it is the copy.
    std::uint32_t recordedId = 0;
    std::uint64_t recordedStart = 0;
};

// True when the arguments a process runs with are those an entry wants.
bool SameArguments(const std::vector<std::string>& wanted, const std::vector<std::string>& running);

enum class AttachResult {
    Found,    // *found holds the running copy, opened
    NotFound, // no copy runs
    NoPath,   // the executable's path cannot be resolved (it is not there)
    NoList,   // the process list cannot be read
};

// Looks for a process running the executable `path` (never the manager
// itself) that `rule` admits: the recorded one first, then in `batch`'s
// reading of the process list. When several run it, one whose parent does
// not run it too is taken first (a server's master rather than its
// workers). *canonical gets the resolved path.
AttachResult FindRunningCopy(const std::string& path, const CopyRule& rule, AttachBatch& batch,
                             port::UniqueHandle* found, std::string* canonical);

// A process the batch started counts as running for the entries created
// after it, as a fresh reading would show it.
void NoteStarted(AttachBatch& batch, std::uint32_t processId, const std::string& canonical);
