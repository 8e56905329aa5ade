// What tells processes apart on Linux: their arguments (/proc/<pid>/cmdline)
// and their start time (field 22 of /proc/<pid>/stat).
#include "port/identity.h"

#include "common/shell_words.h"
#include "port/posix/backend.h"
#include "port/posix/proc_files.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace port {

bool ProcessArguments(std::uint32_t processId, std::vector<std::string>* arguments) {
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%u/cmdline", processId);
    std::string text;
    if (!posix::ReadWholeFile(AT_FDCWD, path, 0, &text))
        return false;
    // Nothing at all: a process that has ended, or a kernel thread.
    if (text.empty()) {
        posix::SetError(ESRCH);
        return false;
    }
    // NUL-terminated words, the program's name first.
    arguments->clear();
    std::size_t start = text.find('\0');
    while (start != std::string::npos && start + 1 < text.size()) {
        const std::size_t end = text.find('\0', start + 1);
        arguments->push_back(
            text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1));
        start = end;
    }
    return true;
}

std::vector<std::string> SplitParameters(const char* parameters) {
    return SplitShellWords(parameters != nullptr ? parameters : "");
}

bool ProcessStartTime(std::uint32_t processId, std::uint64_t* startTime) {
    posix::ProcStat stat{};
    const int read = posix::ReadProcStat(AT_FDCWD, processId, &stat);
    if (read <= 0) {
        posix::SetError(read < 0 ? errno : EINVAL);
        return false;
    }
    *startTime = stat.startTicks;
    return true;
}

} // namespace port
