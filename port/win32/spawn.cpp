// Starting programs on Windows: the shell's "open" verb, minimised, with
// the process handle kept.
#include "port/process.h"

#include "port/win32/native.h"

#include <shellapi.h>

#include <cstring>

namespace port {

using win32::FromNative;

namespace {

// Start the file with its process handle kept for us, and let the shell show
// no error dialog: failures come back as error codes.
constexpr ULONG kShellExecuteMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
static_assert(kShellExecuteMask == 0x440);

} // namespace

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

} // namespace port
