// The single-instance guard on Windows: the named mutex, held until the
// process ends.
#include "port/system.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

namespace port {

bool CreateInstanceGuard(const char* name) {
    // No security attributes: the handle is not inheritable. It stays open
    // until the process ends, which keeps the name taken. A mutex that
    // cannot be made at all lets the program go on without one.
    win32::ScopedHandle mutex(::CreateMutexA(nullptr, FALSE, name));
    if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS)
        return false; // the owner keeps ERROR_ALREADY_EXISTS as it closes
    mutex.Release();
    return true;
}

} // namespace port
