// Files and pipes on Windows. The log file is opened with append access only,
// so that every write lands at the file's current end, and shared for
// reading, writing and deleting, so that viewers and log rotation can work on
// it meanwhile.
#include "port/file.h"

#include "port/win32/native.h"

namespace port {

using win32::FromNative;
using win32::ToNative;

namespace {

// A pipe of this size lets a chatty program write on while the capture
// process waits for the disk.
constexpr DWORD kOutputPipeSize = 1 << 20;

} // namespace

Handle OpenAppendFile(const char* path) {
    // No security attributes: the handle is not inherited by started processes.
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return kNullHandle;
    if (::GetFileType(file) != FILE_TYPE_DISK) { // a pipe, a console, a device
        ::CloseHandle(file);
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return kNullHandle;
    }
    return FromNative(file);
}

bool FileStillAtPath(Handle file, const char* path) {
    BY_HANDLE_FILE_INFORMATION open{};
    if (!::GetFileInformationByHandle(ToNative(file), &open) || open.nNumberOfLinks == 0)
        return false;
    HANDLE named = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION other{};
    const bool same = ::GetFileInformationByHandle(named, &other) &&
                      other.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
                      other.nFileIndexHigh == open.nFileIndexHigh &&
                      other.nFileIndexLow == open.nFileIndexLow;
    ::CloseHandle(named);
    return same;
}

bool AppendToFile(Handle file, const char* bytes, std::uint32_t length, std::uint32_t* written) {
    DWORD done = 0;
    const BOOL ok = ::WriteFile(ToNative(file), bytes, length, &done, nullptr);
    if (written != nullptr)
        *written = done;
    if (!ok)
        return false;
    if (done != length) {
        ::SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return true;
}

void CloseFile(Handle file) {
    if (file != kNullHandle)
        ::CloseHandle(ToNative(file));
}

bool FileSize(Handle file, std::uint64_t* size) {
    LARGE_INTEGER value{};
    if (!::GetFileSizeEx(ToNative(file), &value))
        return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool RenameFile(const char* from, const char* to) {
    return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const char* path) {
    return ::DeleteFileA(path) != 0 || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool MakeDirectory(const char* path) {
    if (::CreateDirectoryA(path, nullptr))
        return true;
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesA(path);
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return true;
    ::SetLastError(error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
    return false;
}

bool CreateOutputPipe(Handle* readEnd, Handle* writeEnd) {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    // No security attributes: neither end is inheritable until a start hands
    // one over.
    if (!::CreatePipe(&read, &write, nullptr, kOutputPipeSize))
        return false;
    *readEnd = FromNative(read);
    *writeEnd = FromNative(write);
    return true;
}

Handle StandardInputStream() {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    return input == INVALID_HANDLE_VALUE ? kNullHandle : FromNative(input);
}

bool ReadStream(Handle stream, char* buffer, std::uint32_t size, std::uint32_t* read) {
    DWORD moved = 0;
    const bool ok = ::ReadFile(ToNative(stream), buffer, size, &moved, nullptr) != 0;
    *read = moved;
    // A pipe whose writers have all closed it reports a broken pipe: its end.
    return ok || ::GetLastError() == ERROR_BROKEN_PIPE;
}

} // namespace port
