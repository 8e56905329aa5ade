// The single-instance guard: an exclusive lock on a file in the user's own
// runtime directory, held until the process ends. Only this user can create
// or replace the file, so no one else can keep this user's manager from
// starting.
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"
#include "port/system.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

namespace {

bool Refuse(const std::string& text, int error) {
    posix::SetError(error == EWOULDBLOCK ? EPERM : error, text);
    return false;
}

// Opens (creating it when missing) the lock file, which must be a plain file
// of this user's: else fails with EPERM.
int OpenLockFile(const std::string& path) {
    posix::UniqueFd fd(posix::sys.openat(
        AT_FDCWD, path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
    if (!fd)
        return -1;
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid()) {
        fd.Reset();
        errno = EPERM;
        return -1;
    }
    return fd.Release();
}

// True when `path` is there but is not a plain file of this user's (a lock
// file of ours, which another manager may hold, never is).
bool Foreign(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 &&
           (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid());
}

} // namespace

bool CreateInstanceGuard(const char* name) {
    std::string why;
    const std::string directory = posix::RuntimeDirectory(&why);
    if (directory.empty())
        return Refuse(why, errno);
    const std::string path = directory + "/" + name + ".lock";
    int fd = OpenLockFile(path);
    int error = errno;
    if (fd < 0 && (error == EPERM || error == EACCES || error == ELOOP) && Foreign(path)) {
        // Planted before the directory was made private: the directory is
        // ours, so the name is ours to take.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = errno;
            return Refuse("the lock file " + path +
                              " is not a plain file of this user's and cannot be removed: " +
                              std::strerror(error),
                          error);
        }
        fd = OpenLockFile(path);
        error = errno;
    }
    if (fd < 0)
        return Refuse("cannot open the lock file " + path + ": " + std::strerror(error), error);
    posix::UniqueFd lock(posix::AboveStandardDescriptors(fd));
    if (!lock) {
        error = errno;
        return Refuse("cannot keep the lock file " + path + " open: " + std::strerror(error),
                      error);
    }
    if (posix::sys.flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        if (error == EWOULDBLOCK) {
            posix::SetError(error);
            return false;
        }
        return Refuse("cannot lock " + path + ": " + std::strerror(error), error);
    }
    // Held (never closed) until the process ends; close-on-exec, so no
    // application inherits it.
    lock.Release();
    return true;
}

} // namespace port
