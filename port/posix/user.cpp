// Accounts on Linux: the password and group databases for a user's ids,
// groups and home, and /proc/<pid>/status for the user a process runs as.
#include "port/user.h"

#include "port/posix/backend.h"
#include "port/posix/proc_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace port::posix {

bool ReadPasswordEntry(const char* name, Account* account) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    int error = 0;
    while ((error = ::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found)) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (found == nullptr) {
        // No entry is no error to getpwnam_r; to a start it is.
        SetError(error != 0 ? error : ENOENT);
        return false;
    }
    account->name = entry.pw_name;
    account->home = entry.pw_dir;
    account->shell = entry.pw_shell != nullptr && *entry.pw_shell ? entry.pw_shell : "/bin/sh";
    account->userId = entry.pw_uid;
    account->groupId = entry.pw_gid;
    return true;
}

bool LookUpAccount(const char* name, Account* account) {
    if (!ReadPasswordEntry(name, account))
        return false;
    // Its supplementary groups, as initgroups would set them; read here
    // because the child of a fork may not allocate.
    int count = 32;
    account->groups.resize(static_cast<std::size_t>(count));
    while (::getgrouplist(account->name.c_str(), account->groupId, account->groups.data(), &count) <
           0) {
        if (count <= static_cast<int>(account->groups.size()))
            count = static_cast<int>(account->groups.size()) * 2;
        account->groups.resize(static_cast<std::size_t>(count));
    }
    account->groups.resize(static_cast<std::size_t>(count));
    return true;
}

} // namespace port::posix

namespace port {

const bool kStartsAsOtherUsers = true;

bool UserIdByName(const char* name, std::uint32_t* userId) {
    // Its groups are not needed: only its entry is read.
    posix::Account account;
    if (!posix::ReadPasswordEntry(name, &account))
        return false;
    *userId = account.userId;
    return true;
}

bool ProcessUserId(std::uint32_t processId, std::uint32_t* userId) {
    char path[48];
    std::snprintf(path, sizeof path, "/proc/%u/status", processId);
    char text[4096];
    if (posix::ReadProcFile(AT_FDCWD, path, text, sizeof text) < 0) {
        posix::SetError(errno);
        return false;
    }
    // "Uid:\t<real>\t<effective>\t<saved>\t<filesystem>"
    const char* line = std::strstr(text, "\nUid:");
    char* end = nullptr;
    const unsigned long real = line != nullptr ? std::strtoul(line + 5, &end, 10) : 0;
    if (line == nullptr || end == line + 5) {
        posix::SetError(EIO);
        return false;
    }
    *userId = static_cast<std::uint32_t>(real);
    return true;
}

} // namespace port
