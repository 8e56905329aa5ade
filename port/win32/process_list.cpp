// The running processes on Windows: their ids (PSAPI), the executable each
// one runs, compared by short (8.3) path name.
#include "port/process.h"

#include "port/win32/native.h"

#include <psapi.h>

#include <vector>

namespace port {

using win32::FromNative;

const char kPathSeparator = '\\';

namespace {

// A result of a call that returns the length written (without terminator), 0
// on failure, and the needed size when the buffer is too small: the length,
// or 0 unless it fits together with its terminator.
std::uint32_t FittingLength(DWORD result, std::uint32_t size) {
    return result != 0 && result < size ? result : 0;
}

} // namespace

std::uint32_t CanonicalPath(const char* path, char* out, std::uint32_t size) {
    return FittingLength(::GetShortPathNameA(path, out, size), size);
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

std::uint32_t ProcessImageById(std::uint32_t processId, char* out, std::uint32_t size) {
    // A process's image can only be read through a handle: opened as the
    // walk for a running copy always has, and closed again at once.
    HANDLE process = ::OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
    if (process == nullptr)
        return 0;
    std::vector<char> image(size);
    std::uint32_t length = ProcessImageName(FromNative(process), image.data(), size);
    if (length != 0)
        length = CanonicalPath(image.data(), out, size);
    ::CloseHandle(process);
    return length;
}

} // namespace port
