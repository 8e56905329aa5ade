// How a child ended, read from its pidfd with WNOWAIT: the status stays with
// the kernel, and the child is reaped later, when its handle is closed.
#include "port/process.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <cstring>
#include <string.h>

namespace port {

namespace {

// "SIGSEGV" for 11; null for a number the C library has no name for.
const char* SignalName(int number) {
    static char names[65][16];
    if (number <= 0 || number > 64)
        return nullptr;
    const char* abbreviation = ::sigabbrev_np(number);
    if (abbreviation == nullptr)
        return nullptr;
    char* name = names[number];
    std::strcpy(name, "SIG");
    std::strncat(name, abbreviation, sizeof names[0] - 4);
    return name;
}

} // namespace

bool ReadExitStatus(Handle process, ExitStatus* status) {
    siginfo_t info{};
    if (posix::WaitidNoIntr(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(process), &info,
                            WEXITED | WNOHANG | WNOWAIT) != 0) {
        posix::SetError(errno); // ECHILD: not our child
        return false;
    }
    if (info.si_pid == 0) {
        posix::SetError(EAGAIN); // still running
        return false;
    }
    const bool bySignal = info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED;
    *status = ExitStatus{bySignal, static_cast<std::uint32_t>(info.si_status),
                         bySignal ? SignalName(info.si_status) : nullptr};
    return true;
}

} // namespace port
