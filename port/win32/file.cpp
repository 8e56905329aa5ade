// Files and pipes on Windows. The log file is opened with append access only,
// so that every write lands at the file's current end, and shared for
// reading, writing and deleting, so that viewers and log rotation can work on
// it meanwhile.
#include "port/file.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <string>
#include <vector>

namespace port {

using win32::FromNative;
using win32::ToNative;

namespace {

// A pipe of this size lets a chatty program write on while the capture
// process waits for the disk.
constexpr DWORD kOutputPipeSize = 1 << 20;

// Opens `path` for appending, with `access` and `flags` added, and keeps
// it only when it is a file on a disk.
Handle OpenFileToAppend(const char* path, DWORD access, DWORD flags) {
    // No security attributes: the handle is not inherited by started processes.
    win32::ScopedHandle file(::CreateFileA(
        path, FILE_APPEND_DATA | access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | flags, nullptr));
    if (!file)
        return kNullHandle;
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) { // a pipe, a console, a device
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return kNullHandle;
    }
    return FromNative(file.Release());
}

// True when the open `file` is a reparse point (a symbolic link, a
// junction) or a directory; false when it is a plain file.
bool NoPlainFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return !::GetFileInformationByHandle(file, &information) ||
           (information.dwFileAttributes &
            (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

// A byte far beyond any output file's end: locking it blocks no one's
// reading or writing (Windows' locks are mandatory for the bytes they cover).
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

// The open directories and their paths: Windows has no call that names a
// file relative to a directory's handle, so names are joined to the path.
struct OpenDirectoryPath {
    HANDLE handle;
    std::string path;
};

std::vector<OpenDirectoryPath>& Directories() {
    static std::vector<OpenDirectoryPath>* directories = new std::vector<OpenDirectoryPath>;
    return *directories;
}

// `name` in the open `directory` (in the working directory when null).
std::string Within(Handle directory, const char* name) {
    if (directory != kNullHandle)
        for (const OpenDirectoryPath& open : Directories())
            if (open.handle == ToNative(directory))
                return open.path + "\\" + name;
    return name;
}

// True when the open `file` is the file at `path`, opened as `flags` say.
bool SameFileAtPath(HANDLE file, const char* path, DWORD flags,
                    BY_HANDLE_FILE_INFORMATION* information = nullptr) {
    BY_HANDLE_FILE_INFORMATION open{};
    if (!::GetFileInformationByHandle(file, &open))
        return false;
    if (information != nullptr)
        *information = open;
    const win32::ScopedHandle named(
        ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, flags, nullptr));
    if (!named)
        return false;
    BY_HANDLE_FILE_INFORMATION other{};
    return ::GetFileInformationByHandle(named.Get(), &other) &&
           other.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
           other.nFileIndexHigh == open.nFileIndexHigh && other.nFileIndexLow == open.nFileIndexLow;
}

} // namespace

Handle OpenAppendFile(const char* path) {
    return OpenFileToAppend(path, 0, 0);
}

Handle OpenDirectory(const char* path) {
    win32::ScopedHandle directory(::CreateFileA(
        path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!directory)
        return kNullHandle;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(directory.Get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::SetLastError(ERROR_DIRECTORY);
        return kNullHandle;
    }
    Directories().push_back(OpenDirectoryPath{directory.Get(), path});
    return FromNative(directory.Release());
}

void CloseDirectory(Handle directory) {
    auto& directories = Directories();
    for (auto open = directories.begin(); open != directories.end(); ++open) {
        if (open->handle == ToNative(directory)) {
            const win32::ScopedHandle closing(open->handle);
            directories.erase(open);
            return;
        }
    }
}

bool DirectoryStillAtPath(Handle directory, const char* path) {
    return SameFileAtPath(ToNative(directory), path, FILE_FLAG_BACKUP_SEMANTICS);
}

Handle OpenOutputFile(Handle directory, const char* name) {
    // FILE_READ_DATA: LockFileEx asks for read or write access, and
    // FILE_APPEND_DATA alone is neither. The reparse point itself is opened
    // and then refused, never what it points to.
    const std::string path = Within(directory, name);
    win32::ScopedHandle file(
        ToNative(OpenFileToAppend(path.c_str(), FILE_READ_DATA, FILE_FLAG_OPEN_REPARSE_POINT)));
    if (file && NoPlainFile(file.Get())) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return kNullHandle;
    }
    return FromNative(file.Release());
}

bool LockFile(Handle file) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return ::LockFileEx(ToNative(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
}

void UnlockFile(Handle file) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(ToNative(file), 0, 1, 0, &at);
}

namespace {

bool StillThere(Handle file, const char* path, DWORD flags, std::uint64_t* size) {
    BY_HANDLE_FILE_INFORMATION open{};
    const bool same = SameFileAtPath(ToNative(file), path, flags, &open);
    if (!same || open.nNumberOfLinks == 0)
        return false;
    if (size != nullptr)
        *size = (static_cast<std::uint64_t>(open.nFileSizeHigh) << 32) | open.nFileSizeLow;
    return true;
}

} // namespace

bool FileStillAtPath(Handle file, const char* path, std::uint64_t* size) {
    return StillThere(file, path, FILE_ATTRIBUTE_NORMAL, size);
}

bool OutputFileStillThere(Handle file, Handle directory, const char* name, std::uint64_t* size) {
    return StillThere(file, Within(directory, name).c_str(), FILE_FLAG_OPEN_REPARSE_POINT, size);
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
    const win32::ScopedHandle closing(ToNative(file));
}

bool FileSize(Handle file, std::uint64_t* size) {
    LARGE_INTEGER value{};
    if (!::GetFileSizeEx(ToNative(file), &value))
        return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool RenameFile(Handle directory, const char* from, const char* to) {
    const std::string source = Within(directory, from);
    const DWORD attributes = ::GetFileAttributesA(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return false;
    }
    return ::MoveFileExA(source.c_str(), Within(directory, to).c_str(),
                         MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(Handle directory, const char* name) {
    return ::DeleteFileA(Within(directory, name).c_str()) != 0 ||
           ::GetLastError() == ERROR_FILE_NOT_FOUND;
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

bool ReadPathInfo(const char* path, bool followLink, PathInfo* info, Handle directory) {
    // FILE_FLAG_BACKUP_SEMANTICS opens directories too.
    const win32::ScopedHandle file(::CreateFileA(
        Within(directory, path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
    if (!file)
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool read = ::GetFileInformationByHandle(file.Get(), &information) != 0;
    const bool disk = ::GetFileType(file.Get()) == FILE_TYPE_DISK;
    const DWORD error = ::GetLastError();
    if (!read) {
        ::SetLastError(error);
        return false;
    }
    const DWORD attributes = information.dwFileAttributes;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    info->directory = !link && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->regularFile = !link && !info->directory && disk;
    // Owners and rights are not looked at on Windows.
    info->otherOwner = false;
    info->othersMayWrite = false;
    return true;
}

bool ReadPathComponents(const char* path, std::vector<PathComponent>* components, bool* partial) {
    components->clear();
    *partial = ::GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
    if (!*partial)
        components->push_back(PathComponent{path, false, true, false, false});
    return true;
}

bool ReadFileEnd(const char* path, char* buffer, std::uint32_t size, std::uint32_t* length) {
    const win32::ScopedHandle owner(
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!owner)
        return false;
    const HANDLE file = owner.Get();
    LARGE_INTEGER fileSize{};
    bool ok = ::GetFileType(file) == FILE_TYPE_DISK && !NoPlainFile(file) &&
              ::GetFileSizeEx(file, &fileSize);
    DWORD error = ok ? 0 : ERROR_CANT_ACCESS_FILE;
    std::uint32_t done = 0;
    if (ok) {
        LARGE_INTEGER start{};
        start.QuadPart = fileSize.QuadPart > size ? fileSize.QuadPart - size : 0;
        ok = ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0;
        while (ok && done < size) {
            DWORD read = 0;
            ok = ::ReadFile(file, buffer + done, size - done, &read, nullptr) != 0;
            if (!ok || read == 0)
                break;
            done += read;
        }
        error = ok ? 0 : ::GetLastError();
    }
    if (!ok) {
        ::SetLastError(error);
        return false;
    }
    *length = done;
    return true;
}

bool ReadFileAt(const char* path, std::uint64_t offset, char* buffer, std::uint32_t size,
                std::uint32_t* length, FileIdentity* identity, std::uint64_t* fileSize) {
    HANDLE file =
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    bool ok = ::GetFileType(file) == FILE_TYPE_DISK && !NoPlainFile(file) &&
              ::GetFileInformationByHandle(file, &information);
    DWORD error = ok ? 0 : ERROR_CANT_ACCESS_FILE;
    std::uint32_t done = 0;
    if (ok) {
        LARGE_INTEGER start{};
        start.QuadPart = static_cast<LONGLONG>(offset);
        ok = ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0;
        while (ok && done < size) {
            DWORD read = 0;
            ok = ::ReadFile(file, buffer + done, size - done, &read, nullptr) != 0;
            if (!ok || read == 0)
                break;
            done += read;
        }
        error = ok ? 0 : ::GetLastError();
    }
    ::CloseHandle(file);
    if (!ok) {
        ::SetLastError(error);
        return false;
    }
    *length = done;
    *identity =
        FileIdentity{information.dwVolumeSerialNumber,
                     (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
    *fileSize = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    return true;
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

bool OutputPipeEnded(Handle readEnd) {
    DWORD left = 0;
    // A pipe whose writers have all closed it and that holds nothing more
    // reports a broken pipe.
    return !::PeekNamedPipe(ToNative(readEnd), nullptr, 0, nullptr, &left, nullptr) &&
           ::GetLastError() == ERROR_BROKEN_PIPE;
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

bool WaitForInput(Handle stream, std::uint32_t timeoutMs) {
    // An anonymous pipe cannot be waited on: it is looked at every 10 ms.
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD waiting = 0;
        if (!::PeekNamedPipe(ToNative(stream), nullptr, 0, nullptr, &waiting, nullptr) ||
            waiting > 0)
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(10);
    }
}

} // namespace port
