// The single-instance guard on Windows: the named mutex, held until the
// process ends.
#include "port/system.h"

#include "port/win32/native.h"

namespace port {

bool CreateInstanceGuard(const char* name) {
    // No security attributes: the handle is not inheritable. It stays open
    // until the process ends, which keeps the name taken. A mutex that
    // cannot be made at all lets the program go on without one.
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
    const DWORD error = ::GetLastError();
    if (mutex != nullptr && error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    return true;
}

} // namespace port
