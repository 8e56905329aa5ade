// Process-wide services: waiting, sleeping, the single-instance guard and the
// console window's decoration.
#pragma once

#include "port/types.h"
#include "port/unique_handle.h"

#include <cstdint>

namespace port {

// The error code of the last failing call of this port layer on this thread.
std::uint32_t LastError();

// Value of WaitAny when the wait itself failed.
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
// Value of WaitAny when the time limit passed with nothing signalled.
inline constexpr std::uint32_t kWaitTimedOut = 258;
// A time limit of WaitAny that never passes.
inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// Blocks until one of `handles` is signalled and returns the index of the
// lowest signalled one, or kWaitTimedOut once `timeoutMs` milliseconds have
// passed. Any other value not below `count` means that the wait failed. The
// console input handle is signalled while input records are waiting; a
// process handle once the process has ended; a control connection while it
// has input or its peer has closed. When `ready` is given (room for `count`
// flags) and a handle was signalled, ready[i] tells for every handle whether
// it was signalled when the wait returned. No handle may be an event that
// resets itself when waited on.
std::uint32_t WaitAny(std::uint32_t count, const Handle* handles,
                      std::uint32_t timeoutMs = kWaitForever, bool* ready = nullptr);

void SleepMs(std::uint32_t milliseconds);

// Closes a handle obtained from this port layer.
void Close(Handle handle);

// Owns a handle that Close closes.
using UniqueHandle = BasicUniqueHandle<Close>;

enum class GuardResult {
    Created,       // this process now holds the name
    AlreadyExists, // another process holds it
    Failed,        // neither could be established; the program may go on
    Refused,       // cannot be established safely: the program must not run
};

// Claims the named single-instance marker for this process. It is held until
// the process ends and is never inherited by child processes.
GuardResult CreateInstanceGuard(const char* name);

// Why the last CreateInstanceGuard gave Refused, as one line of text.
const char* InstanceGuardProblem();

// Sets the title of the console window (or terminal).
void SetWindowTitle(const char* title);

// Removes the Close item from the console window's system menu, where there is one.
void RemoveCloseItem();

// Milliseconds on a clock that only runs forward, from an arbitrary start.
std::uint64_t NowMs();

// Gives back the memory that start-up touched and that can be had again
// when needed: pages of code and read-only data, which come back from their
// files. For a small process that runs on for long (the capture
// process) after a start-up that ran much more code than it needs now.
void TrimMemory();

} // namespace port
