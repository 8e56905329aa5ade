// The manager's per-user directory: the single-instance lock lives there, and
// so may other endpoints that only this user may reach.
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace port::posix {

namespace {

// Opens `path` as a directory, never through a symbolic link in its last part.
int OpenDirectory(const std::string& path) {
    return sys.openat(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
}

// True for a directory of this user that no one else may enter.
bool IsPrivate(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & 077) == 0;
}

std::string Failure(std::string* problem, const std::string& text) {
    *problem = text;
    return std::string();
}

} // namespace

std::string RuntimeDirectory(std::string* problem) {
    // The session's runtime directory, when it is really this user's own.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const int fd = OpenDirectory(runtime);
        if (fd >= 0) {
            const bool usable = IsPrivate(fd);
            ::close(fd);
            if (usable)
                return runtime;
        }
    }

    // Else a directory of our own under the temporary folder. Anyone may
    // create names there, so what is found is checked, never trusted.
    const char* temporary = std::getenv("TMPDIR");
    const std::string base = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
    const std::string path = base + "/zelkappmgr-" + std::to_string(::geteuid());
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return Failure(problem, "cannot create the directory " + path +
                                    " for its lock: " + std::strerror(errno));
    const int fd = OpenDirectory(path);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP || error == ENOTDIR)
            return Failure(problem, path + " is not a directory but a link or a file");
        return Failure(problem, "cannot open the directory " + path + ": " + std::strerror(error));
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return Failure(problem, "cannot examine " + path + ": " + std::strerror(error));
    }
    if (status.st_uid != ::geteuid()) {
        ::close(fd);
        errno = EPERM;
        return Failure(problem, path + " belongs to another user (uid " +
                                    std::to_string(status.st_uid) + ")");
    }
    // Ours: made private, whatever the mode it was created with.
    if ((status.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
        const int error = errno;
        ::close(fd);
        return Failure(problem, "cannot make " + path + " private: " + std::strerror(error));
    }
    ::close(fd);
    return path;
}

} // namespace port::posix
