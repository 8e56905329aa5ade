// What tells processes apart on Windows: their command lines, split as
// CommandLineToArgvW splits them, and their creation times.
#include "port/identity.h"

#include "common/command_line_words.h"
#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <winternl.h>

#include <vector>

namespace port {

namespace {

// The information class of a process's command line (Windows 8.1 and later).
constexpr int kProcessCommandLineInformation = 60;

using QueryProcess = LONG(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);

QueryProcess NtQuery() {
    static const QueryProcess query = reinterpret_cast<QueryProcess>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    return query;
}

// The command line from the system's own copy of it.
bool QueryCommandLine(HANDLE process, std::wstring* line) {
    const QueryProcess query = NtQuery();
    if (query == nullptr)
        return false;
    std::vector<char> buffer(4096);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(process, kProcessCommandLineInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0) {
            const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
            line->assign(text->Buffer, text->Length / sizeof(wchar_t));
            return true;
        }
        if (needed <= buffer.size())
            return false;
        buffer.resize(needed);
    }
    return false;
}

// The command line read from the process's parameters in its own memory.
bool ReadCommandLine(HANDLE process, std::wstring* line) {
    const QueryProcess query = NtQuery();
    PROCESS_BASIC_INFORMATION basic{};
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (query == nullptr ||
        query(process, 0 /* ProcessBasicInformation */, &basic, sizeof basic, nullptr) < 0 ||
        !::ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !::ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters,
                             nullptr))
        return false;
    line->resize(parameters.CommandLine.Length / sizeof(wchar_t));
    return ::ReadProcessMemory(process, parameters.CommandLine.Buffer, line->data(),
                               parameters.CommandLine.Length, nullptr) != 0;
}

} // namespace

bool ProcessArguments(std::uint32_t processId, std::vector<std::string>* arguments) {
    win32::ScopedHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process)
        process.Reset(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return false;
    std::wstring line;
    if (!QueryCommandLine(process.Get(), &line) && !ReadCommandLine(process.Get(), &line)) {
        const DWORD error = ::GetLastError();
        ::SetLastError(error != 0 ? error : ERROR_ACCESS_DENIED);
        return false;
    }
    // In the narrow code page the parameters were written in.
    std::string narrow;
    if (!line.empty()) {
        const int size = ::WideCharToMultiByte(
            CP_ACP, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
        narrow.resize(static_cast<std::size_t>(size));
        ::WideCharToMultiByte(CP_ACP, 0, line.data(), static_cast<int>(line.size()), narrow.data(),
                              size, nullptr, nullptr);
    }
    std::vector<std::string> words = SplitCommandLineWords(narrow, true);
    arguments->assign(words.begin() + 1, words.end());
    return true;
}

std::vector<std::string> SplitParameters(const char* parameters) {
    return SplitCommandLineWords(parameters != nullptr ? parameters : "", false);
}

bool ProcessStartTime(std::uint32_t processId, std::uint64_t* startTime) {
    const win32::ScopedHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return false;
    FILETIME creation, exit, kernel, user;
    if (!::GetProcessTimes(process.Get(), &creation, &exit, &kernel, &user))
        return false;
    *startTime =
        (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    return true;
}

} // namespace port
