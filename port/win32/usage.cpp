// What processes use on Windows: a process's kernel and user times and its
// working set; a job's accounting times, which keep those of its processes
// that ended, and the working sets of the processes it holds.
#include "port/usage.h"

#include "port/containment.h"
#include "port/win32/native.h"

#include <psapi.h>

#include <vector>

namespace port {

using win32::ToNative;

namespace {

std::uint64_t HundredNs(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

bool AddWorkingSet(HANDLE process, Usage* usage) {
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(process, &counters, sizeof counters))
        return false;
    usage->memoryKnown = true;
    usage->memoryBytes += counters.WorkingSetSize;
    return true;
}

} // namespace

bool AddProcessUsage(std::uint32_t processId, Usage* usage) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr)
        return false;
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool timed = ::GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
    if (timed) {
        usage->cpuKnown = true;
        usage->cpuMs += (HundredNs(kernel) + HundredNs(user)) / 10000;
    }
    const bool measured = AddWorkingSet(process, usage);
    const DWORD error = ::GetLastError();
    ::CloseHandle(process);
    ::SetLastError(error);
    return timed || measured;
}

void ReadContainerUsage(Handle container, Usage* usage) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (::QueryInformationJobObject(ToNative(container), JobObjectBasicAccountingInformation,
                                    &accounting, sizeof accounting, nullptr)) {
        usage->cpuKnown = true;
        usage->cpuMs = static_cast<std::uint64_t>(accounting.TotalUserTime.QuadPart +
                                                  accounting.TotalKernelTime.QuadPart) /
                       10000;
    }
    std::vector<std::uint32_t> ids;
    if (!ContainerProcessIds(container, &ids))
        return;
    Usage memory;
    for (std::uint32_t id : ids) {
        HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (process == nullptr)
            continue;
        AddWorkingSet(process, &memory);
        ::CloseHandle(process);
    }
    if (memory.memoryKnown) {
        usage->memoryKnown = true;
        usage->memoryBytes = memory.memoryBytes;
    }
}

bool SetContainerMemoryHigh(Handle, std::uint64_t) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

} // namespace port
