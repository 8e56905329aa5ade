#include "tests/port_win32/test_support.h"

#include "port/process.h"
#include "port/system.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cctype>
#include <vector>

namespace port_win32_test {

namespace {

constexpr char kChildName[] = "port_win32_child.exe";
constexpr DWORD kEndWaitMs = 10000;
constexpr DWORD kPollMs = 50;

std::string ShortForm(const std::string& path) {
    char out[MAX_PATH * 4];
    const DWORD length = ::GetShortPathNameA(path.c_str(), out, sizeof out);
    if (length == 0 || length >= sizeof out)
        return std::string();
    return std::string(out, length);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

std::string OwnPath() {
    char path[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length < sizeof path ? length : 0);
}

std::string DirectoryOf(const std::string& path) {
    const std::string::size_type cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string ChildPath() {
    return DirectoryOf(OwnPath()) + "\\" + kChildName;
}

StartedProcess StartChild(int generations) {
    const std::string path = ChildPath();
    const std::string parameters = std::to_string(generations);
    const std::string directory = DirectoryOf(path);
    StartedProcess started;
    if (!port::StartProgram(path.c_str(), parameters.c_str(), directory.c_str(), &started.process))
        return StartedProcess{};
    if (started.process != port::kNullHandle)
        started.processId = ::GetProcessId(reinterpret_cast<HANDLE>(started.process));
    return started;
}

void EndStarted(StartedProcess& started) {
    if (started.process == port::kNullHandle)
        return;
    HANDLE process = reinterpret_cast<HANDLE>(started.process);
    ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, kEndWaitMs);
    ::CloseHandle(process);
    started = StartedProcess{};
}

void EndById(std::uint32_t processId) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return;
    ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, kEndWaitMs);
    ::CloseHandle(process);
}

bool FindInList(std::uint32_t processId, std::uint32_t* parentId) {
    std::vector<port::ProcessRecord> rows;
    if (!port::ListProcesses(&rows))
        return false;
    for (const port::ProcessRecord& row : rows) {
        if (row.processId == processId) {
            *parentId = row.parentProcessId;
            return true;
        }
    }
    return false;
}

std::uint32_t WaitForChildOf(std::uint32_t parentId, std::uint32_t limitMs) {
    for (std::uint32_t waited = 0; waited <= limitMs; waited += kPollMs) {
        std::vector<port::ProcessRecord> rows;
        if (port::ListProcesses(&rows))
            for (const port::ProcessRecord& row : rows)
                if (row.parentProcessId == parentId)
                    return row.processId;
        ::Sleep(kPollMs);
    }
    return 0;
}

bool SameFile(const std::string& a, const std::string& b) {
    const std::string shortA = ShortForm(a);
    return !shortA.empty() && EqualNoCase(shortA, ShortForm(b));
}

} // namespace port_win32_test
