// Every console function of the Windows back end first checks that the
// process has a console; without one it fails and changes nothing.
#pragma once

#include "port/console.h"
#include "port/win32/native.h"

namespace port::win32 {

// True, with ERROR_INVALID_HANDLE as the last error, when there is no console
// to work on and the caller must fail.
inline bool RefuseWithoutConsole() {
    if (ConsoleAvailable())
        return false;
    ::SetLastError(ERROR_INVALID_HANDLE);
    return true;
}

} // namespace port::win32
