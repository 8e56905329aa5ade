// Files and pipes on POSIX. The log file is opened with O_APPEND, so that
// every write lands at the file's current end, also after logrotate's
// copytruncate.
#include "port/file.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

namespace {

// A pipe of this size lets a chatty program write on while the capture
// process waits for the disk.
constexpr int kOutputPipeSize = 1 << 20;

} // namespace

Handle OpenAppendFile(const char* path) {
    // Without O_NONBLOCK the open of a FIFO waits for a reader, for good.
    int fd = posix::OpenatNoIntr(
        AT_FDCWD, path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    struct stat status {};
    const bool examined = ::fstat(fd, &status) == 0;
    if (!examined || !S_ISREG(status.st_mode)) {
        // The real reason when it cannot be examined; a FIFO or a device
        // is no file to append to.
        const int error = examined ? EINVAL : errno;
        ::close(fd);
        posix::SetError(error);
        return kNullHandle;
    }
    fd = posix::AboveStandardDescriptors(fd);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    return static_cast<Handle>(fd);
}

bool FileStillAtPath(Handle file, const char* path) {
    struct stat open {};
    struct stat named {};
    if (::fstat(static_cast<int>(file), &open) != 0 || ::stat(path, &named) != 0)
        return false;
    return open.st_nlink > 0 && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool AppendToFile(Handle file, const char* bytes, std::uint32_t length, std::uint32_t* written) {
    std::uint32_t done = 0;
    bool ok = true;
    while (done < length) {
        const ssize_t n = posix::WriteNoIntr(static_cast<int>(file), bytes + done, length - done);
        if (n <= 0) {
            posix::SetError(n < 0 ? errno : ENOSPC);
            ok = false;
            break;
        }
        // A short write (the disk filled up midway) is followed by one for
        // the rest, which then reports why it failed.
        done += static_cast<std::uint32_t>(n);
    }
    if (written != nullptr)
        *written = done;
    return ok;
}

void CloseFile(Handle file) {
    if (file > 2)
        ::close(static_cast<int>(file));
}

bool FileSize(Handle file, std::uint64_t* size) {
    struct stat status {};
    if (::fstat(static_cast<int>(file), &status) != 0) {
        posix::SetError(errno);
        return false;
    }
    *size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool RenameFile(const char* from, const char* to) {
    if (std::rename(from, to) != 0) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

bool RemoveFile(const char* path) {
    if (::unlink(path) != 0 && errno != ENOENT) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

bool MakeDirectory(const char* path) {
    if (::mkdir(path, 0750) == 0)
        return true;
    const int error = errno;
    struct stat status {};
    if (error == EEXIST && ::stat(path, &status) == 0 && S_ISDIR(status.st_mode))
        return true;
    posix::SetError(error == EEXIST ? ENOTDIR : error);
    return false;
}

bool CreateOutputPipe(Handle* readEnd, Handle* writeEnd) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        posix::SetError(errno);
        return false;
    }
    ends[0] = posix::AboveStandardDescriptors(ends[0]);
    ends[1] = posix::AboveStandardDescriptors(ends[1]);
    if (ends[0] < 0 || ends[1] < 0) {
        const int error = errno;
        if (ends[0] >= 0)
            ::close(ends[0]);
        if (ends[1] >= 0)
            ::close(ends[1]);
        posix::SetError(error);
        return false;
    }
    ::fcntl(ends[0], F_SETPIPE_SZ, kOutputPipeSize); // a smaller pipe still works
    *readEnd = ends[0];
    *writeEnd = ends[1];
    return true;
}

Handle StandardInputStream() {
    // Descriptor 0 would read as the null handle: a copy above it.
    const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        posix::SetError(errno);
    return fd < 0 ? kNullHandle : fd;
}

bool ReadStream(Handle stream, char* buffer, std::uint32_t size, std::uint32_t* read) {
    const ssize_t n = posix::ReadNoIntr(static_cast<int>(stream), buffer, size);
    *read = n > 0 ? static_cast<std::uint32_t>(n) : 0;
    if (n < 0)
        posix::SetError(errno);
    return n >= 0;
}

} // namespace port
