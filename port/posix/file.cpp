// Files and pipes on POSIX. The log file is opened with O_APPEND, so that
// every write lands at the file's current end, also after logrotate's
// copytruncate.
#include "port/file.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace port {

namespace {

// A pipe of this size lets a chatty program write on while the capture
// process waits for the disk.
constexpr int kOutputPipeSize = 1 << 20;

// The descriptor that names are relative to: an open directory, else the
// working directory.
[[gnu::hot]] int At(Handle directory) {
    return directory != kNullHandle ? static_cast<int>(directory) : AT_FDCWD;
}

// Opens `path` (relative to `directory`) for appending, with `flags` added,
// and keeps it only when it is a regular file.
[[gnu::hot]] Handle OpenRegularFileToAppend(Handle directory, const char* path, int flags) {
    // Without O_NONBLOCK the open of a FIFO waits for a reader, for good.
    posix::UniqueFd opened(posix::OpenatNoIntr(
        At(directory), path,
        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags, 0644));
    if (!opened) {
        posix::SetError(errno);
        return kNullHandle;
    }
    struct stat status {};
    const bool examined = ::fstat(opened.Get(), &status) == 0;
    if (!examined || !S_ISREG(status.st_mode)) {
        // The real reason when it cannot be examined; a FIFO or a device
        // is no file to append to.
        posix::SetError(examined ? EINVAL : errno);
        return kNullHandle;
    }
    const int fd = posix::AboveStandardDescriptors(opened.Release());
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    return static_cast<Handle>(fd);
}

} // namespace

Handle OpenAppendFile(const char* path) {
    return OpenRegularFileToAppend(kNullHandle, path, 0);
}

[[gnu::hot]] Handle OpenDirectory(const char* path) {
    int fd = posix::OpenatNoIntr(AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd >= 0)
        fd = posix::AboveStandardDescriptors(fd);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    return static_cast<Handle>(fd);
}

[[gnu::hot]] void CloseDirectory(Handle directory) {
    if (directory > 2)
        posix::UniqueFd closing(static_cast<int>(directory));
}

[[gnu::hot]] bool DirectoryStillAtPath(Handle directory, const char* path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(static_cast<int>(directory), &open) == 0 && ::stat(path, &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

[[gnu::hot]] Handle OpenOutputFile(Handle directory, const char* name) {
    return OpenRegularFileToAppend(directory, name, O_NOFOLLOW);
}

[[gnu::hot]] bool LockFile(Handle file) {
    if (posix::RestartOnEintr(
            [file] { return posix::sys.flock(static_cast<int>(file), LOCK_EX); }) != 0) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

[[gnu::hot]] void UnlockFile(Handle file) {
    posix::sys.flock(static_cast<int>(file), LOCK_UN);
}

[[gnu::hot]] bool FileStillAtPath(Handle file, const char* path, std::uint64_t* size) {
    struct stat open {};
    struct stat named {};
    if (::fstat(static_cast<int>(file), &open) != 0 || ::stat(path, &named) != 0)
        return false;
    if (size != nullptr)
        *size = static_cast<std::uint64_t>(open.st_size);
    return open.st_nlink > 0 && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

[[gnu::hot]] bool OutputFileStillThere(Handle file, Handle directory, const char* name,
                                       std::uint64_t* size) {
    struct stat open {};
    struct stat named {};
    if (::fstat(static_cast<int>(file), &open) != 0 ||
        ::fstatat(At(directory), name, &named, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (size != nullptr)
        *size = static_cast<std::uint64_t>(open.st_size);
    return open.st_nlink > 0 && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

[[gnu::hot]] bool AppendToFile(Handle file, const char* bytes, std::uint32_t length,
                               std::uint32_t* written) {
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

[[gnu::hot]] void CloseFile(Handle file) {
    if (file > 2)
        posix::UniqueFd closing(static_cast<int>(file));
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

[[gnu::hot]] bool RenameFile(Handle directory, const char* from, const char* to) {
    struct stat status {};
    if (::fstatat(At(directory), from, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        posix::SetError(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        posix::SetError(EINVAL);
        return false;
    }
    if (::renameat(At(directory), from, At(directory), to) != 0) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

[[gnu::hot]] bool RemoveFile(Handle directory, const char* name) {
    if (::unlinkat(At(directory), name, 0) != 0 && errno != ENOENT) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

[[gnu::hot]] bool MakeDirectory(const char* path) {
    if (::mkdir(path, 0750) == 0)
        return true;
    const int error = errno;
    struct stat status {};
    if (error == EEXIST && ::stat(path, &status) == 0 && S_ISDIR(status.st_mode))
        return true;
    posix::SetError(error == EEXIST ? ENOTDIR : error);
    return false;
}

namespace {

// Root, or the user of this process. The user is read once: a capture
// process asks before it gives back its start-up's memory, and never runs
// that code again.
[[gnu::hot]] bool TrustedOwner(uid_t owner) {
    static const uid_t user = ::geteuid();
    return owner == 0 || owner == user;
}

// The most links a path may pass through, as the kernel allows (MAXSYMLINKS).
constexpr int kMostLinks = 40;

// Appends the names of `path` to `pending`, last name first, so that
// pending.back() is the next one to walk.
[[gnu::hot]] void PushNames(const std::string& path, std::vector<std::string>* pending) {
    std::size_t end = path.size();
    while (end > 0) {
        const std::size_t slash = path.rfind('/', end - 1);
        const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
        if (end > begin)
            pending->push_back(path.substr(begin, end - begin));
        if (slash == std::string::npos)
            break;
        end = slash;
    }
}

} // namespace

[[gnu::hot]] bool ReadPathInfo(const char* path, bool followLink, PathInfo* info,
                               Handle directory) {
    struct stat status {};
    if (::fstatat(At(directory), path, &status, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        posix::SetError(errno);
        return false;
    }
    info->regularFile = S_ISREG(status.st_mode);
    info->directory = S_ISDIR(status.st_mode);
    info->otherOwner = !TrustedOwner(status.st_uid);
    info->othersMayWrite = (status.st_mode & S_IWOTH) != 0;
    return true;
}

[[gnu::hot]] bool ReadPathComponents(const char* path, std::vector<PathComponent>* components,
                                     bool* partial) {
    components->clear();
    *partial = false;
    std::vector<std::string> pending;
    PushNames(path, &pending);
    if (path[0] != '/') {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here) == nullptr) {
            posix::SetError(errno);
            return false;
        }
        PushNames(here, &pending);
    }
    // `at` is the path walked so far, free of links ("" for the root): a
    // ".." takes it back by one name.
    std::string at;
    auto add = [&](const std::string& named, const struct stat& status) {
        components->push_back(
            PathComponent{named, S_ISLNK(status.st_mode) != 0, TrustedOwner(status.st_uid),
                          (status.st_mode & S_IWOTH) != 0, (status.st_mode & S_ISVTX) != 0});
        return components->back().trustedOwner;
    };
    struct stat status {};
    if (::lstat("/", &status) != 0) {
        posix::SetError(errno);
        return false;
    }
    if (!add("/", status)) {
        *partial = !pending.empty();
        return true;
    }
    int links = 0;
    while (!pending.empty()) {
        const std::string name = pending.back();
        pending.pop_back();
        if (name == ".")
            continue;
        if (name == "..") {
            at.resize(at.empty() ? 0 : at.rfind('/'));
            continue;
        }
        const std::string next = at + '/' + name;
        if (::lstat(next.c_str(), &status) != 0) {
            if (errno == ENOENT && pending.empty()) {
                *partial = true;
                return true;
            }
            posix::SetError(errno);
            return false;
        }
        if (!add(next, status)) {
            // Nothing past another's component counts.
            *partial = !pending.empty() || S_ISLNK(status.st_mode);
            return true;
        }
        if (!S_ISLNK(status.st_mode)) {
            at = next;
            continue;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(next.c_str(), target, sizeof target - 1);
        if (length <= 0 || ++links > kMostLinks) {
            posix::SetError(length < 0 ? errno : ELOOP);
            return false;
        }
        target[length] = '\0';
        if (target[0] == '/')
            at.clear();
        PushNames(target, &pending);
    }
    return true;
}

bool ReadFileEnd(const char* path, char* buffer, std::uint32_t size, std::uint32_t* length) {
    // O_NONBLOCK: the open of a FIFO returns at once, and fstat refuses it.
    const posix::UniqueFd fd(posix::OpenatNoIntr(
        AT_FDCWD, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0));
    if (!fd) {
        posix::SetError(errno);
        return false;
    }
    struct stat status {};
    bool ok = ::fstat(fd.Get(), &status) == 0;
    int error = ok ? EINVAL : errno;
    ok = ok && S_ISREG(status.st_mode);
    std::uint32_t done = 0;
    if (ok) {
        const off_t start = status.st_size > static_cast<off_t>(size) ? status.st_size - size : 0;
        while (done < size) {
            const ssize_t n = posix::RestartOnEintr([&] {
                return ::pread(fd.Get(), buffer + done, size - done,
                               start + static_cast<off_t>(done));
            });
            if (n <= 0) {
                ok = n == 0;
                error = errno;
                break;
            }
            done += static_cast<std::uint32_t>(n);
        }
    }
    if (!ok) {
        posix::SetError(error);
        return false;
    }
    *length = done;
    return true;
}

bool ReadFileAt(const char* path, std::uint64_t offset, char* buffer, std::uint32_t size,
                std::uint32_t* length, FileIdentity* identity, std::uint64_t* fileSize) {
    const int fd = posix::OpenatNoIntr(
        AT_FDCWD, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) {
        posix::SetError(errno);
        return false;
    }
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0;
    int error = ok ? EINVAL : errno;
    ok = ok && S_ISREG(status.st_mode);
    std::uint32_t done = 0;
    while (ok && done < size) {
        const ssize_t n = posix::RestartOnEintr([&] {
            return ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        });
        if (n <= 0) {
            ok = n == 0;
            error = errno;
            break;
        }
        done += static_cast<std::uint32_t>(n);
    }
    ::close(fd);
    if (!ok) {
        posix::SetError(error);
        return false;
    }
    *length = done;
    *identity = FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                             static_cast<std::uint64_t>(status.st_ino)};
    *fileSize = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool CreateOutputPipe(Handle* readEnd, Handle* writeEnd) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        posix::SetError(errno);
        return false;
    }
    posix::UniqueFd reading(posix::AboveStandardDescriptors(ends[0]));
    posix::UniqueFd writing(posix::AboveStandardDescriptors(ends[1]));
    if (!reading || !writing) {
        posix::SetError(errno);
        return false;
    }
    ::fcntl(reading.Get(), F_SETPIPE_SZ, kOutputPipeSize); // a smaller pipe still works
    *readEnd = reading.Release();
    *writeEnd = writing.Release();
    return true;
}

bool OutputPipeEnded(Handle readEnd) {
    // POLLHUP: no writer is left; POLLIN: bytes are left (or the end).
    pollfd watched{static_cast<int>(readEnd), POLLIN, 0};
    if (posix::PollNoIntr(&watched, 1, 0) < 0)
        return false;
    if ((watched.revents & POLLHUP) == 0)
        return false;
    int left = 0;
    return ::ioctl(static_cast<int>(readEnd), FIONREAD, &left) == 0 && left == 0;
}

Handle StandardInputStream() {
    // Descriptor 0 would read as the null handle: a copy above it.
    const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        posix::SetError(errno);
    return fd < 0 ? kNullHandle : fd;
}

[[gnu::hot]] bool ReadStream(Handle stream, char* buffer, std::uint32_t size, std::uint32_t* read) {
    const ssize_t n = posix::ReadNoIntr(static_cast<int>(stream), buffer, size);
    *read = n > 0 ? static_cast<std::uint32_t>(n) : 0;
    if (n < 0)
        posix::SetError(errno);
    return n >= 0;
}

[[gnu::hot]] bool WaitForInput(Handle stream, std::uint32_t timeoutMs) {
    // Without a clock: after a signal the wait starts over, which only a
    // capture process's pause for an unfinished line sees.
    pollfd watched{static_cast<int>(stream), POLLIN, 0};
    return posix::RestartOnEintr(
               [&] { return posix::sys.poll(&watched, 1, static_cast<int>(timeoutMs)); }) != 0;
}

} // namespace port
