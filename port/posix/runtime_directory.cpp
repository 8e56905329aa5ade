// The manager's per-user directory: the single-instance lock lives there, and
// so may other endpoints that only this user may reach.
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <cerrno>
#include <cstdio>
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

std::string Failure(std::string* problem, const std::string& text) {
    *problem = text;
    return std::string();
}

// True when `path` is a directory (not a link) that belongs to `uid` and is
// closed to everybody else: no other user can have made it or put anything
// in it.
bool PrivateDirectoryOf(const std::string& path, uid_t uid) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == uid &&
           (status.st_mode & 022) == 0;
}

} // namespace

std::string DefaultRuntimeDirectory(unsigned uid, bool runIsDirectory, bool runUserIsTheirs) {
    if (uid == 0 && runIsDirectory)
        return "/run/zelkappmgr";
    if (uid != 0 && runUserIsTheirs)
        return "/run/user/" + std::to_string(uid) + "/zelkappmgr";
    return "/tmp/zelkappmgr-" + std::to_string(uid);
}

std::string RuntimeDirectory(std::string* problem) {
    // Not from the session's variables (XDG_RUNTIME_DIR, TMPDIR): a manager
    // started from cron and one from an SSH session must meet. Only root can
    // make names in /run, and only systemd the user's /run/user/<uid>; /tmp
    // is where anyone may take a name first.
    const uid_t uid = ::geteuid();
    struct stat run {};
    std::string path =
        DefaultRuntimeDirectory(uid, ::lstat("/run", &run) == 0 && S_ISDIR(run.st_mode),
                                PrivateDirectoryOf("/run/user/" + std::to_string(uid), uid));
    const char* chosen = std::getenv("ZELKAPPMGR_RUNTIME_DIR");
    const bool own = chosen == nullptr || chosen[0] == '\0';
    if (!own) {
        path = chosen;
        if (path[0] != '/') {
            errno = EINVAL;
            return Failure(problem, "ZELKAPPMGR_RUNTIME_DIR is not an absolute path: " + path);
        }
        // "dir/" would open a link named dir: the check below needs the name.
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
    }

    // Anyone may create names in /tmp, so what is found is checked, never
    // trusted.
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return Failure(problem, "cannot create the directory " + path +
                                    " for its lock: " + std::strerror(errno));
    const UniqueFd fd(OpenDirectory(path));
    if (!fd) {
        const int error = errno;
        if (error == ELOOP || error == ENOTDIR)
            return Failure(problem, path + " is not a directory but a link or a file");
        return Failure(problem, "cannot open the directory " + path + ": " + std::strerror(error));
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) {
        const int error = errno;
        return Failure(problem, "cannot examine " + path + ": " + std::strerror(error));
    }
    if (status.st_uid != ::geteuid()) {
        errno = EPERM;
        return Failure(problem, path + " belongs to another user (uid " +
                                    std::to_string(status.st_uid) + ")");
    }
    // A directory someone chose is never changed; ours is made private,
    // whatever the mode it was created with.
    if (!own && (status.st_mode & 077) != 0) {
        errno = EPERM;
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        return Failure(problem,
                       path + " may be entered by others (mode " + mode + "); it must be 0700");
    }
    if (own && (status.st_mode & 07777) != 0700 && ::fchmod(fd.Get(), 0700) != 0) {
        const int error = errno;
        return Failure(problem, "cannot make " + path + " private: " + std::strerror(error));
    }
    return path;
}

} // namespace port::posix
