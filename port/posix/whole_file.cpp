// Whole files on Linux: read only when they are regular and small enough,
// replaced by renaming a new file over them; and the place of the record of
// started processes, in the runtime directory.
#include "port/file.h"
#include "port/identity.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

bool StartRecordPath(std::string* path) {
    // Found (and checked) once: it depends on the user alone.
    static std::string directory;
    if (directory.empty()) {
        std::string problem;
        directory = posix::RuntimeDirectory(&problem);
        if (directory.empty()) {
            posix::SetError(errno != 0 ? errno : ENOENT, problem);
            return false;
        }
    }
    *path = directory + "/ZelkAppMgr.started";
    return true;
}

bool ReadPlainFile(const char* path, std::uint32_t limit, std::string* text) {
    // O_NONBLOCK: a FIFO planted there is opened at once instead of
    // waiting for a writer, and then refused as no regular file.
    const posix::UniqueFd fd(
        posix::OpenatNoIntr(AT_FDCWD, path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0));
    if (!fd) {
        posix::SetError(errno);
        return false;
    }
    struct stat info {};
    int error = 0;
    if (::fstat(fd.Get(), &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode))
        error = EINVAL;
    else if (info.st_size > static_cast<off_t>(limit))
        error = EFBIG;
    text->clear();
    char buffer[4096];
    while (error == 0) {
        const ssize_t n = posix::ReadNoIntr(fd.Get(), buffer, sizeof buffer);
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        text->append(buffer, static_cast<std::size_t>(n));
        // It grew while it was read.
        if (text->size() > limit)
            error = EFBIG;
    }
    if (error == EINVAL)
        posix::SetError(error, "not a regular file");
    else if (error != 0)
        posix::SetError(error);
    return error == 0;
}

bool ReplaceFile(const char* path, const std::string& text) {
    const std::string fresh = std::string(path) + ".new";
    // Whatever is at the new file's name (a FIFO, a link) goes first, so
    // that opening it can neither wait nor follow anything.
    ::unlink(fresh.c_str());
    posix::UniqueFd fd(posix::OpenatNoIntr(
        AT_FDCWD, fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        posix::SetError(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = posix::WriteNoIntr(fd.Get(), text.data() + done, text.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const int error = done == text.size() ? 0 : (errno != 0 ? errno : ENOSPC);
    fd.Reset();
    if (error == 0 && std::rename(fresh.c_str(), path) == 0)
        return true;
    posix::SetError(error != 0 ? error : errno);
    ::unlink(fresh.c_str());
    return false;
}

} // namespace port
