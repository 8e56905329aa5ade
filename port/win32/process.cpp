// Processes on Windows: short path names, the process list and the image of a
// process (PSAPI), starting through the shell, and termination.
#include "port/process.h"

#include "port/win32/native.h"

#include <psapi.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

namespace port {

using win32::FromNative;
using win32::ToNative;

const char kPathSeparator = '\\';

namespace {

// Start the file with its process handle kept for us, and let the shell show
// no error dialog: failures come back as error codes.
constexpr ULONG kShellExecuteMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
static_assert(kShellExecuteMask == 0x440);

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

Handle OpenProcessFull(std::uint32_t processId) {
    return FromNative(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId));
}

std::uint32_t ProcessImageName(Handle process, char* out, std::uint32_t size) {
    // The first module of a process is its executable; room for that one only.
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (!::EnumProcessModules(ToNative(process), &module, sizeof(HMODULE), &needed))
        return 0;
    // A name that filled the buffer may have been cut short.
    const DWORD length = ::GetModuleFileNameExA(ToNative(process), module, out, size);
    return length != 0 && length + 1 < size ? length : 0;
}

bool StartProgram(const char* file, const char* parameters, const char* directory, Handle* process,
                  std::uint32_t* error) {
    SHELLEXECUTEINFOA info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = kShellExecuteMask;
    info.lpVerb = "open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = SW_MINIMIZE;
    if (!::ShellExecuteExA(&info)) {
        *error = ::GetLastError();
        *process = kNullHandle;
        return false;
    }
    *error = 0;
    // Null when the shell handed the file to a program that was already running.
    *process = FromNative(info.hProcess);
    return true;
}

std::uint32_t ProcessIdOf(Handle process) {
    return ::GetProcessId(ToNative(process));
}

Handle OpenProcessForTermination(std::uint32_t processId) {
    return FromNative(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
}

bool TerminateProcessHandle(Handle process, std::uint32_t exitCode) {
    return ::TerminateProcess(ToNative(process), exitCode) != 0;
}

bool LastOpenFoundNoProcess() {
    // OpenProcess names an id that belongs to no process an invalid parameter.
    return ::GetLastError() == ERROR_INVALID_PARAMETER;
}

// Windows has no documented call that keeps a process from starting others;
// the stop instead reads the list again for children started meanwhile.
bool SuspendProcess(std::uint32_t) {
    return false;
}

bool EndProcessGroup(std::uint32_t) {
    return false;
}

} // namespace port
