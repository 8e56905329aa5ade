// How long a process has run, from its creation time.
#include "port/process.h"

#include "port/win32/native.h"

namespace port {

std::uint64_t ProcessAgeMs(Handle process) {
    FILETIME creation, exit, kernel, user;
    if (!::GetProcessTimes(win32::ToNative(process), &creation, &exit, &kernel, &user))
        return 0;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER created, current;
    created.LowPart = creation.dwLowDateTime;
    created.HighPart = creation.dwHighDateTime;
    current.LowPart = now.dwLowDateTime;
    current.HighPart = now.dwHighDateTime;
    // File times count 100 ns steps.
    return current.QuadPart > created.QuadPart ? (current.QuadPart - created.QuadPart) / 10000u : 0;
}

} // namespace port
