#include "port/posix/proc_files.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace port::posix {

ssize_t ReadProcFile(int directory, const char* path, char* text, std::size_t size) {
    const UniqueFd fd(OpenatNoIntr(directory, path, O_RDONLY | O_CLOEXEC, 0));
    if (!fd)
        return -1;
    const ssize_t n = ReadNoIntr(fd.Get(), text, size - 1);
    if (n < 0)
        return -1;
    text[n] = '\0';
    return n;
}

bool ReadWholeFile(int directory, const char* path, int flags, std::string* text) {
    const UniqueFd fd(OpenatNoIntr(directory, path, O_RDONLY | O_CLOEXEC | flags, 0));
    if (!fd) {
        SetError(errno);
        return false;
    }
    text->clear();
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ReadNoIntr(fd.Get(), buffer, sizeof buffer)) > 0)
        text->append(buffer, static_cast<std::size_t>(n));
    if (n < 0)
        SetError(errno);
    return n == 0;
}

bool ParseProcStat(const char* text, ProcStat* stat) {
    // The name is at most 16 bytes but may hold anything, ')' included: the
    // fields begin after its last ')'.
    const char* at = std::strrchr(text, ')');
    if (at == nullptr)
        return false;
    ++at;
    // Fields counted from 3 (the state) on; the start time is field 22.
    constexpr int kStartTimeField = 22;
    ProcStat result{};
    for (int field = 3; field <= kStartTimeField; ++field) {
        while (*at == ' ')
            ++at;
        if (*at == '\0' || *at == '\n')
            return false;
        char* end = nullptr;
        if (field == 3) {
            result.state = *at;
            end = const_cast<char*>(at) + 1;
        } else if (field <= 6 || field == kStartTimeField) {
            const long long value = std::strtoll(at, &end, 10);
            if (end == at)
                return false;
            const std::uint32_t id =
                value < 0 || value > 0xFFFFFFFFll ? 0 : static_cast<std::uint32_t>(value);
            if (field == 4)
                result.parent = id;
            else if (field == 5)
                result.group = id;
            else if (field == 6)
                result.session = id;
            else
                result.startTicks = value < 0 ? 0 : static_cast<std::uint64_t>(value);
        } else {
            end = const_cast<char*>(at);
            while (*end != ' ' && *end != '\0' && *end != '\n')
                ++end;
        }
        at = end;
    }
    *stat = result;
    return true;
}

int ReadProcStat(int directory, std::uint32_t pid, ProcStat* stat) {
    char path[48];
    if (directory == AT_FDCWD)
        std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    else
        std::snprintf(path, sizeof path, "%u/stat", pid);
    char text[1024];
    if (ReadProcFile(directory, path, text, sizeof text) < 0)
        return -1;
    return ParseProcStat(text, stat) ? 1 : 0;
}

} // namespace port::posix
