// The record of started processes on Linux: ZelkAppMgr.started in the
// runtime directory, beside the single-instance lock, replaced whole by
// renaming a new file over it.
#include "port/identity.h"

#include "port/posix/backend.h"
#include "port/posix/proc_files.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace port {

namespace {

// The record's path, from the runtime directory found (and checked) once.
bool RecordPath(std::string* path) {
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

} // namespace

bool ReadStartRecord(std::string* text) {
    std::string path;
    if (!RecordPath(&path))
        return false;
    return posix::ReadWholeFile(AT_FDCWD, path.c_str(), O_NOFOLLOW, text);
}

bool WriteStartRecord(const std::string& text) {
    std::string path;
    if (!RecordPath(&path))
        return false;
    const std::string fresh = path + ".new";
    const int fd = posix::OpenatNoIntr(AT_FDCWD, fresh.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        posix::SetError(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = posix::WriteNoIntr(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const int error = done == text.size() ? 0 : (errno != 0 ? errno : ENOSPC);
    ::close(fd);
    if (error == 0 && std::rename(fresh.c_str(), path.c_str()) == 0)
        return true;
    posix::SetError(error != 0 ? error : errno);
    ::unlink(fresh.c_str());
    return false;
}

} // namespace port
