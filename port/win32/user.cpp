// Accounts on Windows: programs run as the manager's own user (running one
// as another would need that user's password), so no user is looked up.
#include "port/user.h"

#include <windows.h>

namespace port {

const bool kStartsAsOtherUsers = false;

bool UserIdByName(const char*, std::uint32_t*) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool ProcessUserId(std::uint32_t, std::uint32_t*) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

} // namespace port
