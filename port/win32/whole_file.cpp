// The record of started processes on Windows: Started-<session>.txt in the
// folder ZelkAppMgr of the user's local application data (one per session,
// as the single-instance mutex is), replaced whole by moving a new file
// over it.
#include "port/identity.h"

#include "port/win32/native.h"

#include <shlobj.h>

#include <string>

namespace port {

namespace {

bool RecordPath(std::string* path) {
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
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    *path = directory + "\\Started-" + std::to_string(session) + ".txt";
    return true;
}

} // namespace

bool ReadStartRecord(std::string* text) {
    std::string path;
    if (!RecordPath(&path))
        return false;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    text->clear();
    char buffer[4096];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ::ReadFile(file, buffer, sizeof buffer, &read, nullptr) != 0) && read > 0)
        text->append(buffer, read);
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    ::SetLastError(error);
    return ok;
}

bool WriteStartRecord(const std::string& text) {
    std::string path;
    if (!RecordPath(&path))
        return false;
    const std::string fresh = path + ".new";
    HANDLE file = ::CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool whole =
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
        written == text.size();
    DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (whole && ::MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    error = whole ? ::GetLastError() : error;
    ::DeleteFileA(fresh.c_str());
    ::SetLastError(error);
    return false;
}

} // namespace port
