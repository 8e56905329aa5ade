// Process-wide services on Windows: waiting on handles, sleeping, closing
// handles and the console window's decoration.
#include "port/system.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

namespace port {

using win32::ToNative;

namespace {

constexpr char kConsoleWindowClass[] = "ConsoleWindowClass";

// The console window of this process, or null where the console has none
// that the system can find (Wine running in a terminal, for one).
HWND ConsoleWindow() {
    return ::FindWindowA(kConsoleWindowClass, nullptr);
}

} // namespace

std::uint32_t WaitAny(std::uint32_t count, const Handle* handles, std::uint32_t timeoutMs,
                      bool* ready) {
    if (count > MAXIMUM_WAIT_OBJECTS) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return kWaitFailed;
    }
    HANDLE native[MAXIMUM_WAIT_OBJECTS] = {};
    for (std::uint32_t i = 0; i < count; ++i)
        native[i] = ToNative(handles[i]);
    // The raw result: WAIT_OBJECT_0 + i (that is, i) for row i; WAIT_TIMEOUT,
    // WAIT_ABANDONED_0 + i and WAIT_FAILED are never below `count`.
    static_assert(kWaitTimedOut == WAIT_TIMEOUT && kWaitForever == INFINITE);
    const DWORD result = ::WaitForMultipleObjects(count, native, FALSE, timeoutMs);
    if (ready != nullptr && result < count) {
        // The wait names the lowest signalled handle; the ones after it are
        // looked at without waiting (none of them resets when waited on).
        for (std::uint32_t i = 0; i < count; ++i)
            ready[i] =
                i == result || (i > result && ::WaitForSingleObject(native[i], 0) == WAIT_OBJECT_0);
    }
    return result;
}

void SleepMs(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void Close(Handle handle) {
    const win32::ScopedHandle closing(ToNative(handle));
}

void SetWindowTitle(const char* title) {
    if (HWND window = ConsoleWindow()) {
        ::SetWindowTextA(window, title);
        return;
    }
    // No window to name: the console's own title is what the terminal shows.
    ::SetConsoleTitleA(title);
}

void RemoveCloseItem() {
    HWND window = ConsoleWindow();
    if (window == nullptr)
        return;
    if (HMENU menu = ::GetSystemMenu(window, FALSE))
        ::DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
}

std::uint32_t LastError() {
    return ::GetLastError();
}

const std::uint32_t kErrorAlreadyExists = ERROR_ALREADY_EXISTS;
const std::uint32_t kErrorTimeout = WAIT_TIMEOUT;
// OpenProcess says so of an id that belongs to no process.
const std::uint32_t kErrorNoProcess = ERROR_INVALID_PARAMETER;
const std::uint32_t kErrorFileNotFound = ERROR_FILE_NOT_FOUND;

std::string ErrorText(std::uint32_t error) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length > 0 ? std::string(text, length) : std::string();
    if (text != nullptr)
        ::LocalFree(text);
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result.empty() ? "error " + std::to_string(error) : result;
}

std::string LastErrorText() {
    return ErrorText(::GetLastError());
}

void TrimMemory() {
    ::SetProcessWorkingSetSize(::GetCurrentProcess(), static_cast<SIZE_T>(-1),
                               static_cast<SIZE_T>(-1));
}

std::uint64_t NowMs() {
    return ::GetTickCount64();
}

} // namespace port
