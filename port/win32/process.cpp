// Process handles on Windows: opened, read (PSAPI), asked to end (WM_CLOSE
// to their windows) and terminated.
#include "port/process.h"

#include "port/win32/native.h"

#include <psapi.h>

#include <string>
#include <vector>

namespace port {

using win32::FromNative;
using win32::ToNative;

Handle OpenProcessFull(std::uint32_t processId) {
    return FromNative(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId));
}

bool ProcessImageName(Handle process, std::string* image) {
    // The first module of a process is its executable; room for that one only.
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (!::EnumProcessModules(ToNative(process), &module, sizeof(HMODULE), &needed))
        return false;
    // A name that fills the buffer may have been cut short: then more room.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameExA(ToNative(process), module, buffer.data(),
                                                    static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return false;
        if (length + 1 < buffer.size()) {
            image->assign(buffer.data(), length);
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool ProcessEnded(Handle process) {
    return ::WaitForSingleObject(ToNative(process), 0) != WAIT_TIMEOUT;
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

// Windows has no documented call that keeps a process from starting others;
// the stop instead reads the list again for children started meanwhile.
bool SuspendProcess(std::uint32_t) {
    return false;
}

bool ProcessStopped(std::uint32_t) {
    return false;
}

bool ResumeIfStopped(std::uint32_t) {
    return false;
}

bool EndProcessGroup(std::uint32_t) {
    return false;
}

namespace {

struct CloseRequest {
    DWORD processId;
    bool posted;
};

BOOL CALLBACK PostCloseToWindowOf(HWND window, LPARAM context) {
    auto* request = reinterpret_cast<CloseRequest*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == request->processId && ::PostMessageA(window, WM_CLOSE, 0, 0))
        request->posted = true;
    return TRUE;
}

} // namespace

bool AskProcessToEnd(std::uint32_t processId, int) {
    if (processId == ::GetCurrentProcessId())
        return false;
    CloseRequest request{processId, false};
    ::EnumWindows(PostCloseToWindowOf, reinterpret_cast<LPARAM>(&request));
    return request.posted;
}

// Windows has no process groups to signal; each process is asked by itself.
bool AskProcessGroupToEnd(std::uint32_t, int) {
    return false;
}

// Windows has no signals.
bool SignalNumber(const char*, int*) {
    return false;
}

bool SendSignal(Handle, int) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

} // namespace port
