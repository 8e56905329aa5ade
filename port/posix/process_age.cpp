// How long a process has run, from its start time in /proc/<pid>/stat
// (clock ticks since the system booted).
#include "port/process.h"

#include "port/posix/backend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace port {

std::uint64_t ProcessAgeMs(Handle process) {
    const std::uint32_t pid = ProcessIdOf(process);
    if (pid == 0)
        return 0;
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    char text[1024];
    if (posix::ReadProcFile(AT_FDCWD, path, text, sizeof text) <= 0)
        return 0;
    // "pid (comm) state ppid ...": the start time is the 20th field after
    // the name, whose own text may hold blanks and ')'.
    const char* field = std::strrchr(text, ')');
    if (field == nullptr)
        return 0;
    for (int i = 0; i < 20 && field != nullptr; ++i)
        field = std::strchr(field + 1, ' ');
    if (field == nullptr)
        return 0;
    const unsigned long long startTicks = std::strtoull(field + 1, nullptr, 10);
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    struct timespec sinceBoot {};
    if (ticksPerSecond <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0)
        return 0;
    const std::uint64_t startMs = startTicks * 1000u / static_cast<std::uint64_t>(ticksPerSecond);
    const std::uint64_t nowMs = static_cast<std::uint64_t>(sinceBoot.tv_sec) * 1000u +
                                static_cast<std::uint64_t>(sinceBoot.tv_nsec) / 1000000u;
    return nowMs > startMs ? nowMs - startMs : 0;
}

} // namespace port
