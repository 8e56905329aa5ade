// Process-wide services: waiting, sleeping, the single-instance guard and the
// console window's decoration.
#pragma once

#include "port/types.h"
#include "port/unique_handle.h"

#include <cstdint>
#include <string>

namespace port {

// Every function of the port layer that can fail says so the same way, as
// the system's own calls do: it returns false (or a null handle), and
// LastError() then holds the system's error code for why.
std::uint32_t LastError();

// Codes of LastError() that callers look for, in each system's numbers.
extern const std::uint32_t kErrorAlreadyExists; // another process holds the name
extern const std::uint32_t kErrorTimeout;       // the time limit passed first
extern const std::uint32_t kErrorNoProcess;     // no process has the id
extern const std::uint32_t kErrorFileNotFound;  // nothing is at the path

// The system's text for an error code, without a line end.
std::string ErrorText(std::uint32_t error);

// What the last failing call said of its failure: its own words where it
// had more to say than the code (where it looked and what it found), else
// ErrorText(LastError()).
std::string LastErrorText();

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
// has input or its peer has closed; a probe (port/probe.h) once its
// connection attempt is decided. When `ready` is given (room for `count`
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

// Claims the named single-instance marker for this process. It is held until
// the process ends and is never inherited by child processes. True when the
// program may go on: it holds the name (or, on Windows, the name could not
// be made at all, which the program lives with). False when it must not:
// LastError() is kErrorAlreadyExists while another process holds the name,
// any other code when the marker cannot be established safely
// (LastErrorText() says why).
bool CreateInstanceGuard(const char* name);

// Sets the title of the console window (or terminal).
void SetWindowTitle(const char* title);

// Removes the Close item from the console window's system menu, where there is one.
void RemoveCloseItem();

// Milliseconds on a clock that only runs forward, from an arbitrary start.
std::uint64_t NowMs();

// Gives back the memory that start-up touched and that can be had again
// when needed: pages of code and read-only data, which come back from their
// files. For a process that runs on for long (the manager's loop, the
// capture process) after a start-up that ran much more code than it needs
// now.
void TrimMemory();

} // namespace port
