// Files the manager writes: the log file, kept open for appending, and the
// output files of the applications, rotated by renaming; and the reading of
// an output file's end.
#pragma once

#include "port/types.h"
#include "port/unique_handle.h"

#include <cstdint>
#include <string>
#include <vector>

namespace port {

// Opens `path` (relative to the working directory) for appending, creating it
// when missing. Every write goes to the file's end, also after another program
// truncated it. Other programs may read, write, rename and delete the file
// while it is open, and no started process inherits the handle. Only a
// regular file is opened, never waiting on it (a FIFO is refused at once).
// Null on failure, with LastError() set.
Handle OpenAppendFile(const char* path);

// Opens the directory at `path` (through links, which the caller has
// checked), so that files are named relative to it by the functions below
// that take a `directory`: it stays the directory it was, whatever is put at
// the path later. On Windows the names are joined to its path. Null on
// failure, with LastError() set (a path that names no directory included).
Handle OpenDirectory(const char* path);

// Closes a directory that OpenDirectory opened.
void CloseDirectory(Handle directory);

// Owns a directory's handle.
using UniqueDirectory = BasicUniqueHandle<CloseDirectory>;

// True when the directory at `path` (through links) is still the open one.
bool DirectoryStillAtPath(Handle directory, const char* path);

// Opens the output file `name` in the open `directory` as OpenAppendFile
// opens a path, but never through a link: a symbolic link there (on Windows
// any reparse point) is refused, as is anything but a regular file. Null on
// failure, with LastError() set.
Handle OpenOutputFile(Handle directory, const char* name);

// Waits until this process holds the lock of an open output file, which one
// process at a time holds: an advisory lock, kept only by those who take it
// (capture processes writing one file). UnlockFile gives it back; so does
// closing the file.
bool LockFile(Handle file);
void UnlockFile(Handle file);

// False when the open `file` is no longer the file at `path`: it was
// deleted, or renamed and perhaps replaced (logrotate without copytruncate).
// When it is, *size (when given) is its size.
bool FileStillAtPath(Handle file, const char* path, std::uint64_t* size = nullptr);

// The same for the output file `name` in the open `directory`, where a link
// is never the file.
bool OutputFileStillThere(Handle file, Handle directory, const char* name,
                          std::uint64_t* size = nullptr);

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

// Renames the regular file `from` in the open `directory` to `to` there,
// replacing a file (or a link) `to`. Anything else at `from` (a link, a
// directory) is not renamed: false, with LastError() set.
bool RenameFile(Handle directory, const char* from, const char* to);

// Removes the file `name` of the open `directory`; true also when there is
// none.
bool RemoveFile(Handle directory, const char* name);

// Creates the directory `path` (on POSIX with mode 0750) unless it is one
// already. False, with LastError() set, when it is no directory and cannot be
// made one.
bool MakeDirectory(const char* path);

// What the system tells of the thing at a path.
struct PathInfo {
    bool regularFile; // a regular file: not a link, directory, FIFO or device
    bool directory;
    bool otherOwner;     // POSIX: owned by neither this process's user nor root
    bool othersMayWrite; // POSIX: users outside its owner and group may write
};

// Looks at what is at `path` (relative to the open `directory` when not
// null): at what a link there leads to when `followLink`, else at the link
// itself (then neither a regular file nor a directory). False, with
// LastError() set, when there is nothing at `path` or it cannot be looked
// at.
bool ReadPathInfo(const char* path, bool followLink, PathInfo* info,
                  Handle directory = kNullHandle);

// One component of a path, as the system tells of it without following it.
struct PathComponent {
    std::string path;    // the path up to and with this component
    bool link;           // a symbolic link: the components of its target follow
    bool trustedOwner;   // owned by root or by this process's user
    bool othersMayWrite; // users outside its owner and group may write to it
    bool sticky;         // only the owner of an entry may remove or rename it
};

// Reads every component of `path` from the root down (a relative path from
// the working directory's), each as it is, not followed: a link is
// followed by the components of its target. *partial tells that the path
// goes on below the last component read: its last component does not
// exist (the list ends with its parent), or the reading stopped after a
// component of another owner (nothing past it can be trusted). False, with
// LastError() set, when the path cannot be read otherwise (a missing
// component before the last, a file in the middle, too many links). On
// Windows, where owners and rights are not looked at, the path is one
// component of a trusted owner, or missing.
bool ReadPathComponents(const char* path, std::vector<PathComponent>* components, bool* partial);

// Reads the last bytes, at most `size`, of the regular file at `path`, never
// through a link and never waiting on it (a FIFO or a device is refused);
// *length tells how many were read. False, with LastError() set, when the
// file cannot be read.
bool ReadFileEnd(const char* path, char* buffer, std::uint32_t size, std::uint32_t* length);

// Tells one file from another at the same path (a rotation renamed the one
// and made the other): POSIX device and inode, Windows volume and file index.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;

    bool operator==(const FileIdentity&) const = default;
};

// Reads at most `size` bytes from `offset` on of the regular file at `path`,
// never through a link and never waiting on it; *length tells how many were
// read, *identity and *fileSize which file it was and its size then. False,
// with LastError() set, when the file cannot be read.
bool ReadFileAt(const char* path, std::uint64_t offset, char* buffer, std::uint32_t size,
                std::uint32_t* length, FileIdentity* identity, std::uint64_t* fileSize);

// Reads the whole of the regular file at `path` when it holds at most
// `limit` bytes. Never through a link and never waiting (a FIFO or a device
// is refused at once). False, with LastError(), otherwise:
// kErrorFileNotFound when nothing is there.
bool ReadPlainFile(const char* path, std::uint32_t limit, std::string* text);

// Replaces the file at `path` with one that holds `text`: written whole to a
// new file beside it that then takes its name, so that an end in the
// middle leaves the old file or the new one, never a part of one.
bool ReplaceFile(const char* path, const std::string& text);

// A pipe for a program's output: the read end for the capture process, the
// write end for the program's standard output and error. Neither is
// inherited by anything unless handed over on purpose.
bool CreateOutputPipe(Handle* readEnd, Handle* writeEnd);

// True when every writer of the output pipe whose read end is `readEnd` has
// closed it and nothing is left in it to read.
bool OutputPipeEnded(Handle readEnd);

// This process's standard input, as a stream of bytes (a pipe).
Handle StandardInputStream();

// Reads up to `size` bytes from a stream, waiting for them. True with *read
// the number read, 0 at its end (every writer has closed it); false, with
// LastError(), on failure.
bool ReadStream(Handle stream, char* buffer, std::uint32_t size, std::uint32_t* read);

// Waits at most `timeoutMs` milliseconds for bytes on a stream: true when a
// read would not wait (bytes are there, or the stream has ended or failed),
// false when the time passed first.
bool WaitForInput(Handle stream, std::uint32_t timeoutMs);

} // namespace port
