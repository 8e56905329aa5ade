// The single-instance guard: an exclusive lock on a file in the user's own
// runtime directory, held until the process ends. Only this user can create
// or replace the file, so no one else can keep this user's manager from
// starting.
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/system.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace port {

namespace {

std::string problem;

GuardResult Refuse(const std::string& text, int error) {
    problem = text;
    posix::SetError(error);
    return GuardResult::Refused;
}

} // namespace

GuardResult CreateInstanceGuard(const char* name) {
    std::string why;
    const std::string directory = posix::RuntimeDirectory(&why);
    if (directory.empty())
        return Refuse(why, errno);
    const std::string path = directory + "/" + name + ".lock";
    int fd = posix::sys.openat(AT_FDCWD, path.c_str(),
                               O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        return Refuse("cannot open the lock file " + path + ": " + std::strerror(error), error);
    }
    fd = posix::AboveStandardDescriptors(fd);
    if (fd < 0) {
        const int error = errno;
        return Refuse("cannot keep the lock file " + path + " open: " + std::strerror(error),
                      error);
    }
    if (posix::sys.flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            posix::SetError(error);
            return GuardResult::AlreadyExists;
        }
        return Refuse("cannot lock " + path + ": " + std::strerror(error), error);
    }
    // Held (never closed) until the process ends; close-on-exec, so no
    // application inherits it.
    return GuardResult::Created;
}

const char* InstanceGuardProblem() {
    return problem.c_str();
}

} // namespace port
