// Files the manager writes: the log file, kept open for appending, and the
// output files of the applications, rotated by renaming.
#pragma once

#include "port/types.h"
#include "port/unique_handle.h"

#include <cstdint>

namespace port {

// Opens `path` (relative to the working directory) for appending, creating it
// when missing. Every write goes to the file's end, also after another program
// truncated it. Other programs may read, write, rename and delete the file
// while it is open, and no started process inherits the handle. Only a
// regular file is opened, never waiting on it (a FIFO is refused at once).
// Null on failure, with LastError() set.
Handle OpenAppendFile(const char* path);

// False when the open `file` is no longer the file at `path`: it was
// deleted, or renamed and perhaps replaced (logrotate without copytruncate).
bool FileStillAtPath(Handle file, const char* path);

// Appends `length` bytes with one write. False, with LastError() set, when
// not all of them could be written; *written (when given) tells how many were.
bool AppendToFile(Handle file, const char* bytes, std::uint32_t length,
                  std::uint32_t* written = nullptr);

// Closes a file or a pipe end of this header.
void CloseFile(Handle file);

// Owns a file or a pipe end that CloseFile closes.
using UniqueFile = BasicUniqueHandle<CloseFile>;

// The size of an open file in bytes.
bool FileSize(Handle file, std::uint64_t* size);

// Renames `from` to `to`, replacing a file `to`.
bool RenameFile(const char* from, const char* to);

// Removes a file; true also when there is none.
bool RemoveFile(const char* path);

// Creates the directory `path` (on POSIX with mode 0750) unless it is one
// already. False, with LastError() set, when it is no directory and cannot be
// made one.
bool MakeDirectory(const char* path);

// A pipe for a program's output: the read end for the capture process, the
// write end for the program's standard output and error. Neither is
// inherited by anything unless handed over on purpose.
bool CreateOutputPipe(Handle* readEnd, Handle* writeEnd);

// This process's standard input, as a stream of bytes (a pipe).
Handle StandardInputStream();

// Reads up to `size` bytes from a stream, waiting for them. True with *read
// the number read, 0 at its end (every writer has closed it); false, with
// LastError(), on failure.
bool ReadStream(Handle stream, char* buffer, std::uint32_t size, std::uint32_t* read);

} // namespace port
