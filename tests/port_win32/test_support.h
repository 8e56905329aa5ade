// Shared pieces of the Windows back end tests: paths of the test programs,
// starting the child program through the port, and ending what a test started.
#pragma once

#include "port/types.h"

#include <cstdint>
#include <string>

namespace port_win32_test {

// The full path of the running test program.
std::string OwnPath();

// The directory part of `path`, without the last backslash.
std::string DirectoryOf(const std::string& path);

// The full path of the child test program beside the test program.
std::string ChildPath();

// A process the test started, with the handle the port handed back.
struct StartedProcess {
    port::Handle process = port::kNullHandle;
    std::uint32_t processId = 0;
};

// Starts the child program through port::StartProgram with `generations` below it.
// The result has a null handle when that failed.
StartedProcess StartChild(int generations);

// Ends a process this test started, by its handle, waits until it is gone and
// closes the handle. Does nothing for a null handle.
void EndStarted(StartedProcess& started);

// Ends the process with this id, which the test started itself or through one
// of its children. Does nothing when it is gone already.
void EndById(std::uint32_t processId);

// True when the process list holds `processId`; *parentId is its parent then.
bool FindInList(std::uint32_t processId, std::uint32_t* parentId);

// The id of a child of `parentId` in the process list, waiting up to
// `limitMs` for one to appear; 0 when none did.
std::uint32_t WaitForChildOf(std::uint32_t parentId, std::uint32_t limitMs);

// Case-insensitive (ASCII) equality of two paths in their short form.
bool SameFile(const std::string& a, const std::string& b);

} // namespace port_win32_test
