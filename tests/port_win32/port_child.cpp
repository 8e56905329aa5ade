// Test program for the Windows back end. With an argument n > 0 it starts one
// copy of itself with n - 1, so that n generations of descendants follow it.
// It then waits to be terminated; if nobody ends it, it ends by itself after a
// minute so that a failed test leaves nothing behind for long.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr DWORD kLifetimeMs = 60000;

void StartChild(int generations) {
    char self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    char commandLine[MAX_PATH + 32];
    std::snprintf(commandLine, sizeof commandLine, "\"%s\" %d", self, generations);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (::CreateProcessA(self, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &started)) {
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const int generations = __argc > 1 ? std::atoi(__argv[1]) : 0;
    if (generations > 0)
        StartChild(generations - 1);
    ::Sleep(kLifetimeMs);
    return 0;
}
