// How a process ended on Windows: its exit code. A process ended by a fault
// has the fault's status code (0xC0000005 and the like) as its exit code.
#include "port/process.h"

#include "port/win32/native.h"

namespace port {

using win32::ToNative;

bool ReadExitStatus(Handle process, ExitStatus* status) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(ToNative(process), &code))
        return false;
    if (code == STILL_ACTIVE && ::WaitForSingleObject(ToNative(process), 0) != WAIT_OBJECT_0) {
        ::SetLastError(ERROR_INVALID_STATE);
        return false;
    }
    *status = ExitStatus{false, static_cast<std::uint32_t>(code), nullptr};
    return true;
}

} // namespace port
