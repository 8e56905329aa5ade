// The log file on Windows: opened with append access only, so that every
// write lands at the file's current end, and shared for reading, writing and
// deleting, so that viewers and log rotation can work on it meanwhile.
#include "port/file.h"

#include "port/win32/native.h"

namespace port {

using win32::FromNative;
using win32::ToNative;

Handle OpenAppendFile(const char* path) {
    // No security attributes: the handle is not inherited by started processes.
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return kNullHandle;
    return FromNative(file);
}

bool AppendToFile(Handle file, const char* bytes, std::uint32_t length) {
    DWORD written = 0;
    if (!::WriteFile(ToNative(file), bytes, length, &written, nullptr))
        return false;
    if (written != length) {
        ::SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return true;
}

} // namespace port
