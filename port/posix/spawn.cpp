// Starting programs on Linux: posix_spawn of the executable, without a
// shell, in a session of its own, with the standard descriptors on /dev/null.
#include "port/process.h"

#include "port/posix/backend.h"
#include "port/posix/shell_words.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace port {

namespace {

// `file` made absolute against the working directory; empty on failure
// (errno set).
std::string AbsolutePath(const char* file) {
    if (file[0] == '/')
        return file;
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
    std::string path = buffer.data();
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + file;
}

} // namespace

bool StartProgram(const char* file, const char* parameters, const char* directory, Handle* process,
                  std::uint32_t* error) {
    *process = kNullHandle;
    *error = 0;
    if (file == nullptr || *file == '\0') {
        *error = ENOENT;
        posix::SetError(ENOENT);
        return false;
    }
    const std::string path = AbsolutePath(file);
    if (path.empty()) {
        *error = static_cast<std::uint32_t>(errno);
        posix::SetError(errno);
        return false;
    }

    std::vector<std::string> words = posix::SplitShellWords(parameters ? parameters : "");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(file));
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);

    if (directory != nullptr)
        ::posix_spawn_file_actions_addchdir_np(&actions, *directory ? directory : "/");
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // Whatever else this process holds stays with it (ours are close-on-exec
    // anyway; this covers descriptors inherited from our own parent).
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(
        &attributes,
        static_cast<short>(POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));

    pid_t pid = 0;
    const int result =
        posix::sys.posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        *error = static_cast<std::uint32_t>(result);
        posix::SetError(result);
        return false;
    }

    int fd = posix::OpenPidfd(static_cast<std::uint32_t>(pid));
    if (fd < 0) {
        // Without a handle the child could be neither watched nor reaped:
        // it is ended and reaped here, and the start counts as failed.
        const int openError = errno;
        posix::sys.kill(pid, SIGKILL);
        siginfo_t info;
        posix::WaitidNoIntr(P_PID, static_cast<id_t>(pid), &info, WEXITED);
        *error = static_cast<std::uint32_t>(openError);
        posix::SetError(openError);
        return false;
    }
    posix::RememberProcess(fd, static_cast<int>(pid));
    *process = fd;
    return true;
}

} // namespace port
