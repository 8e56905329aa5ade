// The manager as a Windows service: installing and removing it, and running
// as one. StartServiceCtrlDispatcherA keeps the process's first thread and
// calls OnControl there; the manager runs on the thread that the dispatcher
// starts for ServiceMain, around its one wait. OnControl only reports the
// state and signals the event that the manager's loop waits on for requests
// to end (the one of WatchShutdownRequests): the loop stops the applications
// as it does on Ctrl+C in a console.
#include "port/service_control.h"

#include "port/service.h"
#include "port/win32/command_line.h"
#include "port/win32/native.h"

#include <cstring>
#include <string>

namespace port {

using win32::QuoteArgument;
using win32::ToNative;

namespace {

// Start-up reads the configuration and the process list and starts or
// attaches to every application: seconds at most.
constexpr DWORD kStartWaitHintMs = 30000;
// How often the removal looks whether the service has stopped.
constexpr DWORD kStopPollMs = 250;

struct ServiceRun {
    int (*body)(void*) = nullptr;
    void* context = nullptr;
    int exitCode = 0;
    HANDLE shutdown = nullptr; // the event of WatchShutdownRequests
    SERVICE_STATUS_HANDLE status = nullptr;
    // Reports come from both threads: one at a time.
    CRITICAL_SECTION lock;
    DWORD state = SERVICE_STOPPED;
    DWORD checkPoint = 0;
    DWORD stopWaitHintMs = kStartWaitHintMs;
};

ServiceRun service;

bool IsPending(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
}

// Tells the service control manager the state: a pending state with its
// wait hint and the next checkpoint, "stopped" with the exit code. A
// request to end may come while the manager starts: once stop pending, it is
// not reported running again.
void Report(DWORD state, int exitCode = 0) {
    ::EnterCriticalSection(&service.lock);
    if (!(state == SERVICE_RUNNING && service.state == SERVICE_STOP_PENDING)) {
        if (state != service.state)
            service.checkPoint = 0;
        service.state = state;
        SERVICE_STATUS status{};
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = state;
        if (state == SERVICE_RUNNING || state == SERVICE_STOP_PENDING)
            status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
        if (exitCode != 0) {
            status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
            status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
        }
        if (IsPending(state)) {
            status.dwCheckPoint = ++service.checkPoint;
            status.dwWaitHint =
                state == SERVICE_START_PENDING ? kStartWaitHintMs : service.stopWaitHintMs;
        }
        ::SetServiceStatus(service.status, &status);
    }
    ::LeaveCriticalSection(&service.lock);
}

// On the dispatcher's thread.
DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING);
        ::SetEvent(service.shutdown);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// On the thread the dispatcher started for the service.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
    // The name is not checked for a service that has its process to itself.
    service.status = ::RegisterServiceCtrlHandlerExA(argc > 0 ? argv[0] : "", OnControl, nullptr);
    if (service.status == nullptr) {
        service.exitCode = 1;
        return;
    }
    Report(SERVICE_START_PENDING);
    service.exitCode = service.body(service.context);
    Report(SERVICE_STOPPED, service.exitCode);
}

// Closes a service handle without changing the last error.
void CloseService(SC_HANDLE handle) {
    const DWORD error = ::GetLastError();
    if (handle != nullptr)
        ::CloseServiceHandle(handle);
    ::SetLastError(error);
}

// Waits while the service stops and its reports come within their wait
// hints (at least a second each). True once it has stopped.
bool WaitUntilStopped(SC_HANDLE handle) {
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(handle, &status))
        return false;
    DWORD checkPoint = status.dwCheckPoint;
    DWORD since = ::GetTickCount();
    while (status.dwCurrentState != SERVICE_STOPPED) {
        ::Sleep(kStopPollMs);
        if (!::QueryServiceStatus(handle, &status))
            return false;
        const DWORD hint = status.dwWaitHint > 1000 ? status.dwWaitHint : 1000;
        if (status.dwCheckPoint != checkPoint) {
            checkPoint = status.dwCheckPoint;
            since = ::GetTickCount();
        } else if (status.dwCurrentState != SERVICE_STOPPED && ::GetTickCount() - since > hint) {
            return false;
        }
    }
    return true;
}

} // namespace

bool HasServiceControlManager() {
    return true;
}

bool InstallService(const char* name, const char* displayName, const char* description,
                    const char* const* arguments) {
    const std::string self = OwnExecutablePath();
    if (self.empty())
        return false;
    std::string commandLine = QuoteArgument(self);
    for (const char* const* argument = arguments; *argument != nullptr; ++argument)
        commandLine += ' ' + QuoteArgument(*argument);
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr)
        return false;
    // No account given: LocalSystem.
    SC_HANDLE created =
        ::CreateServiceA(manager, name, displayName, SERVICE_CHANGE_CONFIG,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                         commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (created != nullptr) {
        SERVICE_DESCRIPTIONA text{const_cast<char*>(description)};
        ::ChangeServiceConfig2A(created, SERVICE_CONFIG_DESCRIPTION, &text);
        ::SetLastError(NO_ERROR);
    }
    CloseService(created);
    CloseService(manager);
    return created != nullptr;
}

bool UninstallService(const char* name, ServiceStop* stop) {
    *stop = ServiceStop::NotRunning;
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return false;
    SC_HANDLE handle = ::OpenServiceA(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    bool removed = false;
    if (handle != nullptr) {
        SERVICE_STATUS status{};
        if (::QueryServiceStatus(handle, &status) && status.dwCurrentState != SERVICE_STOPPED) {
            // A service that is stopping already takes no second "stop": it is waited for.
            ::ControlService(handle, SERVICE_CONTROL_STOP, &status);
            *stop = WaitUntilStopped(handle) ? ServiceStop::Stopped : ServiceStop::StillStopping;
        }
        removed = ::DeleteService(handle) != 0;
    }
    CloseService(handle);
    CloseService(manager);
    return removed;
}

bool RunAsService(int (*body)(void*), void* context, int* exitCode) {
    ::InitializeCriticalSection(&service.lock);
    service.body = body;
    service.context = context;
    service.shutdown = ToNative(WatchShutdownRequests());
    if (service.shutdown == nullptr)
        return false;
    // The name may be empty for a service that has its process to itself.
    char name[] = "";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherA(table))
        return false;
    *exitCode = service.exitCode;
    return true;
}

void SetServiceStopWaitHint(std::uint32_t milliseconds) {
    ::EnterCriticalSection(&service.lock);
    service.stopWaitHintMs = milliseconds;
    ::LeaveCriticalSection(&service.lock);
}

void NotifyServiceManager(const char* state) {
    if (service.status == nullptr)
        return;
    if (std::strcmp(state, "READY=1") == 0)
        Report(SERVICE_RUNNING);
    else if (std::strcmp(state, "STOPPING=1") == 0)
        Report(SERVICE_STOP_PENDING);
}

std::string OwnExecutablePath() {
    char path[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return std::string();
    return std::string(path, length);
}

std::string CurrentDirectory() {
    char path[MAX_PATH * 4];
    const DWORD length = ::GetCurrentDirectoryA(sizeof path, path);
    if (length == 0 || length >= sizeof path)
        return std::string();
    return std::string(path, length);
}

bool ChangeDirectory(const char* path) {
    return ::SetCurrentDirectoryA(path) != 0;
}

std::string CurrentUserName() {
    char name[256];
    DWORD size = sizeof name;
    if (!::GetUserNameA(name, &size) || size == 0)
        return std::string();
    return std::string(name, size - 1);
}

bool IsSuperUser() {
    return false;
}

} // namespace port
