// Files the manager writes: the log file, kept open for appending.
#pragma once

#include "port/types.h"

#include <cstdint>

namespace port {

// Opens `path` (relative to the working directory) for appending, creating it
// when missing. Every write goes to the file's end, also after another program
// truncated it. Other programs may read, write, rename and delete the file
// while it is open, and no started process inherits the handle. Null on
// failure, with LastError() set.
Handle OpenAppendFile(const char* path);

// Appends `length` bytes with one write. False, with LastError() set, when
// not all of them could be written.
bool AppendToFile(Handle file, const char* bytes, std::uint32_t length);

} // namespace port
