// The single-instance guard on Windows: the named mutex, held until the
// process ends.
#include "port/system.h"

#include "port/win32/native.h"

namespace port {

GuardResult CreateInstanceGuard(const char* name) {
    // No security attributes: the handle is not inheritable. It stays open
    // until the process ends, which keeps the name taken.
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name);
    const DWORD error = ::GetLastError();
    if (mutex == nullptr)
        return GuardResult::Failed;
    if (error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return GuardResult::AlreadyExists;
    }
    return GuardResult::Created;
}

const char* InstanceGuardProblem() {
    return ""; // the mutex is never refused: a failure lets the program go on
}

} // namespace port
