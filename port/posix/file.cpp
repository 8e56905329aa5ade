// The log file on POSIX: opened with O_APPEND, so that every write lands at
// the file's current end, also after logrotate's copytruncate.
#include "port/file.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <fcntl.h>

namespace port {

Handle OpenAppendFile(const char* path) {
    int fd = posix::OpenatNoIntr(AT_FDCWD, path,
                                 O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    fd = posix::AboveStandardDescriptors(fd);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    return static_cast<Handle>(fd);
}

bool AppendToFile(Handle file, const char* bytes, std::uint32_t length) {
    std::uint32_t done = 0;
    while (done < length) {
        const ssize_t n = posix::WriteNoIntr(static_cast<int>(file), bytes + done, length - done);
        if (n <= 0) {
            posix::SetError(n < 0 ? errno : ENOSPC);
            return false;
        }
        // A short write (the disk filled up midway) is followed by one for
        // the rest, which then reports why it failed.
        done += static_cast<std::uint32_t>(n);
    }
    return true;
}

} // namespace port
