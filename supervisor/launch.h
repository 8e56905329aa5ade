// Starting an application's executable, and taking a process under
// supervision.
#pragma once

#include "loop/wait_table.h"
#include "supervisor/app_entry.h"

#include <optional>
#include <string>
#include <vector>

// Paths are limited to what the system's path buffers hold.
inline constexpr std::size_t kMaxPathLength = 259;

enum class LaunchResult {
    Started,    // its process is supervised
    Failed,     // the system could not start it ("Could not start ...")
    NotStarted, // nothing to supervise: no start was tried, or the process cannot be watched
};

// The directory the application starts in: its [WorkingDirectory], else
// its executable's (empty for one in the root: the root); none for a bare
// file name (the system's default).
std::optional<std::string> LaunchDirectory(const AppSettings& settings);

// The variables added to the application's environment at its start (its
// [Environment], and NOTIFY_SOCKET with the "notify" rule), which its
// health commands get too.
std::vector<std::string> LaunchEnvironment(AppEntry& entry);

// `variables` as the list of a start: pointers into them, a null last.
std::vector<const char*> VariableList(const std::vector<std::string>& variables);

// "Path of %s is too long, it is not started!" when it is; true then.
bool PathTooLong(const AppEntry& entry);

// Starts the entry's executable ("Starting process %s.") with its
// parameters, in its directory, with its environment and its output where
// entry.openOutput says, and supervises the process with `onExit`.
LaunchResult Launch(AppEntry& entry, WaitCallback onExit);

// Registers `process` (found running, or just started) in the wait table
// with `onExit` and counts it for the status report. False, after saying
// so, when the table has no room: the process is then let go.
bool Supervise(AppEntry& entry, port::UniqueHandle process, WaitCallback onExit);
