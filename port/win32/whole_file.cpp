// Whole files on Windows: read only when they are regular files (no reparse
// point, no device) small enough, replaced by moving a new file over them;
// and the place of the record of started processes.
#include "port/file.h"
#include "port/identity.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <shlobj.h>

// <windows.h> maps ReplaceFile to ReplaceFileA; this file defines the port's
// own ReplaceFile.
#undef ReplaceFile

#include <string>

namespace port {

bool StartRecordPath(std::string* path) {
    char folder[MAX_PATH];
    const HRESULT found =
        ::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (found != S_OK) {
        ::SetLastError(static_cast<DWORD>(found));
        return false;
    }
    const std::string directory = std::string(folder) + "\\ZelkAppMgr";
    if (!::CreateDirectoryA(directory.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    // One record per session, as the single-instance mutex is one per session.
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    *path = directory + "\\Started-" + std::to_string(session) + ".txt";
    return true;
}

bool ReadPlainFile(const char* path, std::uint32_t limit, std::string* text) {
    const win32::ScopedHandle owner(
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!owner)
        return false;
    const HANDLE file = owner.Get();
    DWORD error = ERROR_SUCCESS;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        error = ERROR_INVALID_DATA;
    else if (info.nFileSizeHigh != 0 || info.nFileSizeLow > limit)
        error = ERROR_FILE_TOO_LARGE;
    text->clear();
    char buffer[4096];
    while (error == ERROR_SUCCESS) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &read, nullptr))
            error = ::GetLastError();
        if (read == 0)
            break;
        text->append(buffer, read);
        if (text->size() > limit)
            error = ERROR_FILE_TOO_LARGE;
    }
    ::SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool ReplaceFile(const char* path, const std::string& text) {
    const std::string fresh = std::string(path) + ".new";
    win32::ScopedHandle file(::CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                           nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    const bool whole = ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()),
                                   &written, nullptr) != 0 &&
                       written == text.size();
    DWORD error = ::GetLastError();
    file.Reset();
    if (whole && ::MoveFileExA(fresh.c_str(), path, MOVEFILE_REPLACE_EXISTING))
        return true;
    error = whole ? ::GetLastError() : error;
    ::DeleteFileA(fresh.c_str());
    ::SetLastError(error);
    return false;
}

} // namespace port
