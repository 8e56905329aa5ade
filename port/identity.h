// What tells one running process from another beyond its executable: the
// arguments it was started with and the moment it started; and the record
// of the processes the manager started, which a later manager reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace port {

// The arguments the process with this id was started with, after its
// program's name: on Linux /proc/<pid>/cmdline; on Windows its command line
// split as CommandLineToArgvW splits it. False, with LastError(), when they
// cannot be read.
bool ProcessArguments(std::uint32_t processId, std::vector<std::string>* arguments);

// The arguments StartProgram hands a program for `parameters`, split as the
// system's launch splits them (POSIX: as a shell splits words; Windows: by
// the rules of CommandLineToArgvW).
std::vector<std::string> SplitParameters(const char* parameters);

// When the process with this id started, as a number that no other process
// that had the id before or has it later shares (Linux: clock ticks after
// boot; Windows: its creation time). False, with LastError(), when it
// cannot be read (the process has ended).
bool ProcessStartTime(std::uint32_t processId, std::uint64_t* startTime);

// Where the record of started processes is kept, in a place of this user's
// own (Linux: ZelkAppMgr.started in the runtime directory, beside the
// single-instance lock; Windows: Started-<session>.txt in the folder
// ZelkAppMgr of the user's local application data, made when missing).
// False, with LastError(), when there is no such place.
bool StartRecordPath(std::string* path);

} // namespace port
