// Reading the small files of /proc that the POSIX back end looks at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace port::posix {

// Reads up to size - 1 bytes of a /proc file (`path` relative to the open
// directory `directory`, or to the working directory with AT_FDCWD) into
// `text`, terminated. Returns the length, or -1 with errno set.
ssize_t ReadProcFile(int directory, const char* path, char* text, std::size_t size);

// Reads the whole of a file of any length (`path` relative to the open
// directory `directory`, or AT_FDCWD), opened with O_RDONLY | O_CLOEXEC and
// `flags`. False, with SetError, when it cannot be opened or read.
bool ReadWholeFile(int directory, const char* path, int flags, std::string* text);

// The fields of /proc/<pid>/stat that the back end uses.
struct ProcStat {
    char state;               // 'R', 'S', 'T' (stopped), 'Z' and so on
    std::uint32_t parent;     // 0 when it has none
    std::uint32_t group;      // its process group
    std::uint32_t session;    // the leader of its session
    std::uint64_t startTicks; // clock ticks after boot when it started
};

// Parses the text of a stat file: "pid (comm) state ppid pgrp session ...",
// where comm may hold blanks and ')'. False when the fields are not there.
bool ParseProcStat(const char* text, ProcStat* stat);

// Reads and parses the stat file of process `pid`: "<pid>/stat" below
// `directory`, an open /proc, or "/proc/<pid>/stat" when it is AT_FDCWD.
// Returns 1 when *stat holds it, 0 when the text could not be parsed, and -1
// with errno set when it could not be read (ENOENT or ESRCH: the process
// has ended).
int ReadProcStat(int directory, std::uint32_t pid, ProcStat* stat);

} // namespace port::posix
