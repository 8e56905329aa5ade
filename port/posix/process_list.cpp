// The running processes on Linux: their ids from /proc, and the executable
// each one runs (/proc/<pid>/exe), compared by canonical path.
#include "port/process.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace port {

const char kPathSeparator = '/';

std::uint32_t CanonicalPath(const char* path, char* out, std::uint32_t size) {
    if (path == nullptr || *path == '\0') {
        posix::SetError(ENOENT);
        return 0;
    }
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) {
        posix::SetError(errno);
        return 0;
    }
    const std::size_t length = std::strlen(resolved);
    if (length + 1 > size) {
        std::free(resolved);
        posix::SetError(ENAMETOOLONG);
        return 0;
    }
    std::memcpy(out, resolved, length + 1);
    std::free(resolved);
    return static_cast<std::uint32_t>(length);
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

std::uint32_t ProcessImageById(std::uint32_t processId, char* out, std::uint32_t size) {
    // The kernel names the executable by its resolved absolute path, which is
    // what CanonicalPath gives for it: no resolution is needed here.
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%u/exe", processId);
    const ssize_t length = posix::sys.readlinkat(AT_FDCWD, link, out, size);
    if (length < 0) {
        posix::SetError(errno);
        return 0;
    }
    if (static_cast<std::size_t>(length) >= size) {
        posix::SetError(ENAMETOOLONG);
        return 0;
    }
    out[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

} // namespace port
