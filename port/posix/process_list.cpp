// The running processes on Linux: their ids from /proc, and the executable
// each one runs (/proc/<pid>/exe), compared by canonical path.
#include "port/process.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace port {

const char kPathSeparator = '/';

bool CanonicalPath(const char* path, std::string* canonical) {
    if (path == nullptr || *path == '\0') {
        posix::SetError(ENOENT);
        return false;
    }
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) {
        posix::SetError(errno);
        return false;
    }
    canonical->assign(resolved);
    std::free(resolved);
    return true;
}

bool ListProcessIds(std::uint32_t* ids, std::uint32_t capacity, std::uint32_t* count) {
    *count = 0;
    std::uint32_t n = 0;
    const bool listed = posix::ForEachProcessId([&](int, std::uint32_t pid) {
        if (n == capacity)
            return false;
        ids[n++] = pid;
        return true;
    });
    if (!listed)
        return false;
    *count = n;
    return true;
}

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

namespace posix {

bool ParsePid(const char* name, std::uint32_t* pid) {
    if (*name == '\0')
        return false;
    unsigned long value = 0;
    for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(*p - '0');
        if (value > 0xFFFFFFFFul)
            return false;
    }
    *pid = static_cast<std::uint32_t>(value);
    return true;
}

} // namespace posix

bool ProcessImageById(std::uint32_t processId, std::string* image) {
    // The kernel names the executable by its resolved absolute path, which is
    // what CanonicalPath gives for it: no resolution is needed here.
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%u/exe", processId);
    char target[PATH_MAX];
    const ssize_t length = posix::sys.readlinkat(AT_FDCWD, link, target, sizeof target);
    if (length < 0) {
        posix::SetError(errno);
        return false;
    }
    if (static_cast<std::size_t>(length) >= sizeof target) {
        posix::SetError(ENAMETOOLONG);
        return false;
    }
    image->assign(target, static_cast<std::size_t>(length));
    return true;
}

} // namespace port
