// How long a process has run, from its start time in /proc/<pid>/stat
// (clock ticks since the system booted).
#include "port/process.h"

#include "port/posix/proc_files.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace port {

std::uint64_t ProcessAgeMs(Handle process) {
    const std::uint32_t pid = ProcessIdOf(process);
    posix::ProcStat stat{};
    if (pid == 0 || posix::ReadProcStat(AT_FDCWD, pid, &stat) <= 0)
        return 0;
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    struct timespec sinceBoot {};
    if (ticksPerSecond <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0)
        return 0;
    const std::uint64_t startMs =
        stat.startTicks * 1000u / static_cast<std::uint64_t>(ticksPerSecond);
    const std::uint64_t nowMs = static_cast<std::uint64_t>(sinceBoot.tv_sec) * 1000u +
                                static_cast<std::uint64_t>(sinceBoot.tv_nsec) / 1000000u;
    return nowMs > startMs ? nowMs - startMs : 0;
}

} // namespace port
