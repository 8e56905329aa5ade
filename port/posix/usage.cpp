// What processes use on Linux: utime, stime, cutime and cstime (clock ticks)
// and rss (pages) from /proc/<pid>/stat; for a cgroup, cpu.stat and
// memory.current, and memory.high to bound it.
#include "port/usage.h"

#include "port/posix/backend.h"
#include "port/posix/proc_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace port {

namespace {

// The fields after the command's closing parenthesis, from the state (the
// third field) on: utime is the 14th field of the file, rss the 24th.
constexpr int kUtime = 14 - 3;
constexpr int kRss = 24 - 3;

bool ReadNumberAfter(const std::string& text, const char* key, std::uint64_t* value) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos || (at != 0 && text[at - 1] != '\n'))
        return false;
    *value = std::strtoull(text.c_str() + at + std::strlen(key), nullptr, 10);
    return true;
}

} // namespace

bool AddProcessUsage(std::uint32_t processId, Usage* usage) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/stat", static_cast<unsigned>(processId));
    char text[1024];
    if (posix::ReadProcFile(AT_FDCWD, path, text, sizeof text) < 0) {
        posix::SetError(errno);
        return false;
    }
    const char* at = std::strrchr(text, ')');
    if (at == nullptr) {
        posix::SetError(EINVAL);
        return false;
    }
    std::uint64_t fields[kRss + 1] = {};
    at += 1;
    for (int i = 0; i <= kRss; ++i) {
        while (*at == ' ')
            ++at;
        if (*at == '\0') {
            posix::SetError(EINVAL);
            return false;
        }
        char* end = nullptr;
        fields[i] = i == 0 ? 0 : std::strtoull(at, &end, 10);
        at = i == 0 ? at + 1 : end;
    }
    static const long ticks = ::sysconf(_SC_CLK_TCK);
    static const long page = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t cpuTicks =
        fields[kUtime] + fields[kUtime + 1] + fields[kUtime + 2] + fields[kUtime + 3];
    usage->cpuKnown = true;
    usage->cpuMs += cpuTicks * 1000 / static_cast<std::uint64_t>(ticks > 0 ? ticks : 100);
    usage->memoryKnown = true;
    usage->memoryBytes += fields[kRss] * static_cast<std::uint64_t>(page > 0 ? page : 4096);
    return true;
}

void ReadContainerUsage(Handle container, Usage* usage) {
    const int fd = static_cast<int>(container);
    std::string text;
    std::uint64_t value = 0;
    if (posix::ReadWholeFile(fd, "cpu.stat", 0, &text) &&
        ReadNumberAfter(text, "usage_usec ", &value)) {
        usage->cpuKnown = true;
        usage->cpuMs = value / 1000;
    }
    text.clear();
    if (posix::ReadWholeFile(fd, "memory.current", 0, &text) && !text.empty()) {
        usage->memoryKnown = true;
        usage->memoryBytes = std::strtoull(text.c_str(), nullptr, 10);
    }
}

bool SetContainerMemoryHigh(Handle container, std::uint64_t bytes) {
    const std::string text = bytes == 0 ? std::string("max") : std::to_string(bytes);
    const int fd = ::openat(static_cast<int>(container), "memory.high", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        posix::SetError(errno);
        return false;
    }
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int error = errno;
    ::close(fd);
    if (!written)
        posix::SetError(error);
    return written;
}

} // namespace port
