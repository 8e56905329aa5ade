// The running processes on Windows: their ids (PSAPI), the executable each
// one runs, compared by short (8.3) path name.
#include "port/process.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <psapi.h>

#include <vector>

namespace port {

using win32::FromNative;

const char kPathSeparator = '\\';

bool CanonicalPath(const char* path, std::string* canonical) {
    // The first call tells the room the short name needs.
    const DWORD needed = ::GetShortPathNameA(path, nullptr, 0);
    if (needed == 0)
        return false;
    std::vector<char> buffer(needed);
    const DWORD length = ::GetShortPathNameA(path, buffer.data(), needed);
    if (length == 0 || length >= needed) {
        if (length != 0)
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    canonical->assign(buffer.data(), length);
    return true;
}

bool ListProcessIds(std::uint32_t* ids, std::uint32_t capacity, std::uint32_t* count) {
    *count = 0;
    std::vector<DWORD> native(capacity);
    DWORD bytes = 0;
    if (!::EnumProcesses(native.data(), static_cast<DWORD>(capacity * sizeof(DWORD)), &bytes))
        return false;
    const std::uint32_t listed = bytes / sizeof(DWORD);
    for (std::uint32_t i = 0; i < listed; ++i)
        ids[i] = native[i];
    *count = listed;
    return true;
}

std::uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

bool ProcessImageById(std::uint32_t processId, std::string* image) {
    // A process's image can only be read through a handle: opened as the
    // walk for a running copy always has, and closed again at once.
    const win32::ScopedHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId));
    if (!process)
        return false;
    std::string full;
    return ProcessImageName(FromNative(process.Get()), &full) && CanonicalPath(full.c_str(), image);
}

} // namespace port
