// Starting at boot on Linux: systemd starts the manager headless from a
// unit, so there is no service control manager to talk to; what the unit
// names (this program's path, the working directory, the user) is read here.
#include "port/service_control.h"

#include "port/posix/backend.h"

#include <cerrno>
#include <cstring>
#include <limits.h>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace port {

bool HasServiceControlManager() {
    return false;
}

bool InstallService(const char*, const char*, const char*, const char* const*) {
    posix::SetError(ENOSYS);
    return false;
}

bool UninstallService(const char*, ServiceStop* stop) {
    *stop = ServiceStop::NotRunning;
    posix::SetError(ENOSYS);
    return false;
}

bool RunAsService(int (*)(void*), void*, int*) {
    posix::SetError(ENOSYS);
    return false;
}

void SetServiceStopWaitHint(std::uint32_t) {}

void AdmitAdministratorsToControl(bool) {}

std::string OwnExecutablePath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path)
        return std::string();
    return std::string(path, static_cast<std::size_t>(length));
}

std::string CurrentDirectory() {
    char path[PATH_MAX];
    if (::getcwd(path, sizeof path) == nullptr)
        return std::string();
    return path;
}

bool ChangeDirectory(const char* path) {
    if (::chdir(path) == 0)
        return true;
    posix::SetError(errno);
    return false;
}

std::string CurrentUserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr)
        return std::to_string(::geteuid());
    return found->pw_name;
}

bool IsSuperUser() {
    return ::geteuid() == 0;
}

} // namespace port
