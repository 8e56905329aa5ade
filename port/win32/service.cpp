// Running headless on Windows: the log on standard output, and Ctrl+C,
// Ctrl+Break or the console's close as requests to end, through an event
// the loop waits on. Windows hands no orphans to anyone; what a service
// tells the service control manager is in service_control.cpp.
#include "port/service.h"

#include "port/win32/native.h"

namespace port {

using win32::FromNative;

namespace {

HANDLE shutdownEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    ::SetEvent(shutdownEvent);
    if (event == CTRL_CLOSE_EVENT) {
        // The system ends the process when this returns: the main thread
        // stops the applications meanwhile and ends it first.
        for (;;)
            ::Sleep(INFINITE);
    }
    return TRUE;
}

} // namespace

bool WriteStandardOutput(const char* data, std::uint32_t length) {
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    while (length > 0) {
        DWORD written = 0;
        if (output == nullptr || output == INVALID_HANDLE_VALUE ||
            !::WriteFile(output, data, length, &written, nullptr) || written == 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

Handle WatchShutdownRequests() {
    if (shutdownEvent == nullptr) {
        // Manual reset: signalled until taken.
        shutdownEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (shutdownEvent == nullptr)
            return kNullHandle;
        ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    }
    return FromNative(shutdownEvent);
}

void TakeShutdownRequests() {
    if (shutdownEvent != nullptr)
        ::ResetEvent(shutdownEvent);
}

// Windows has no request to read the configuration again.
Handle WatchReloadRequests() {
    return kNullHandle;
}

void TakeReloadRequests() {}

Handle BecomeOrphanReaper() {
    return kNullHandle;
}

void ReapOrphans() {}

// A Windows service is told its states through the service control
// manager, not through the environment.
void KeepNotifySocket() {}

} // namespace port
