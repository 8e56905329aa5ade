// The manager's hold on the capture processes it started. For each it keeps
// the read end of the application's pipe, so that the application never
// finds its output without a reader (and dies of SIGPIPE), and watches the
// process in the wait table. A capture process that ends while the pipe
// still has a writer or bytes to read (it was killed) is replaced by a new
// one on the same read end; one that ended because every writer had closed
// the pipe is let go with its read end.
#pragma once

#include "loop/timers.h"
#include "loop/wait_table.h"
#include "port/file.h"
#include "port/system.h"

#include <cstdint>
#include <string>
#include <vector>

// Capture processes watched at once; one started beyond them runs on
// unwatched, as one does after the manager has quit.
inline constexpr int kMaxWatchedCaptures = 16;

// A capture process that ended this soon after its start is replaced only
// after this pause, so that one that cannot run is not started over and
// over.
inline constexpr std::uint64_t kCaptureRestartPauseMs = 1000;

// A capture process watched: what it holds and registers ends with it.
struct WatchedCapture {
    bool used = false;
    std::string name;                   // the application's display name
    std::vector<std::string> arguments; // the capture process's arguments
    port::UniqueFile readEnd;
    port::UniqueHandle process; // null while a new start waits
    WaitRow row;                // the process's, while it is watched
    std::uint64_t startedMs = 0;
    ScopedTimer restart;
    bool failureReported = false; // the last start failed and was said
};

struct CaptureTable {
    WatchedCapture captures[kMaxWatchedCaptures];
};

extern CaptureTable captureTable;

// Starts a capture process for the application `name` with `arguments`
// (without the program's name) reading `readEnd`, and watches it when there
// is room, keeping the read end. Returns false, with port::LastError() set,
// when it could not be started.
bool StartWatchedCapture(const std::string& name, const std::vector<std::string>& arguments,
                         port::UniqueFile readEnd);
