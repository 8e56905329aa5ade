// Starting programs on Linux: posix_spawn of the executable, without a
// shell, in a session of its own, with the standard descriptors on /dev/null;
// and the commands of health checks, which are run through /bin/sh.
#include "port/probe.h"
#include "port/process.h"
#include "port/system.h"

#include "common/shell_words.h"
#include "port/posix/backend.h"
#include "port/posix/syscalls.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
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

// Starts `path` with `argv` in a session of its own, in `directory` (when
// not null), with its standard input on `input` and its output and error on
// `output` (/dev/null for a null handle), the environment `envp`, every
// signal at its default. On success *process is a pidfd of the child.
bool Spawn(const std::string& path, std::vector<char*>& argv, const char* directory, Handle input,
           Handle output, char* const* envp, int* process) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);

    if (directory != nullptr)
        ::posix_spawn_file_actions_addchdir_np(&actions, *directory ? directory : "/");
    if (input != kNullHandle)
        ::posix_spawn_file_actions_adddup2(&actions, static_cast<int>(input), 0);
    else
        ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (int fd : {1, 2}) {
        if (output != kNullHandle)
            ::posix_spawn_file_actions_adddup2(&actions, static_cast<int>(output), fd);
        else
            ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
    }
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

    argv.push_back(nullptr);
    pid_t pid = 0;
    const int result =
        posix::sys.posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        posix::SetError(result);
        return false;
    }

    const int fd = posix::OpenPidfd(static_cast<std::uint32_t>(pid));
    if (fd < 0) {
        // Without a handle the child could be neither watched nor reaped:
        // it is ended and reaped here, and the start counts as failed.
        const int openError = errno;
        posix::sys.kill(pid, SIGKILL);
        siginfo_t info;
        posix::WaitidNoIntr(P_PID, static_cast<id_t>(pid), &info, WEXITED);
        posix::SetError(openError);
        return false;
    }
    posix::RememberProcess(fd, static_cast<int>(pid));
    *process = fd;
    return true;
}

// `base` with `added` (NAME=VALUE) in the place of the variables of the
// same names; of two in `added` with one name, the later.
std::vector<char*> Environment(const char* const* base, const char* const* added) {
    std::vector<char*> variables;
    auto named = [](const char* variable, const char* name) {
        const char* end = std::strchr(name, '=');
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - name) : 0;
        return std::strncmp(variable, name, length) == 0 && variable[length] == '=';
    };
    auto replaced = [&](const char* variable, const char* const* by) {
        for (; *by != nullptr; ++by)
            if (named(variable, *by))
                return true;
        return false;
    };
    for (const char* const* variable = base; *variable != nullptr; ++variable)
        if (!replaced(*variable, added))
            variables.push_back(const_cast<char*>(*variable));
    for (const char* const* variable = added; *variable != nullptr; ++variable)
        if (!replaced(*variable, variable + 1))
            variables.push_back(const_cast<char*>(*variable));
    variables.push_back(nullptr);
    return variables;
}

// Starts the program `path` with `argv` (without its closing null) as
// StartProgram describes it, and health commands the same way: as `user`
// (null: this process's) in `container`, with `environment` added. On
// success *process is a pidfd of the child.
bool Start(const std::string& path, std::vector<char*>& argv, const char* directory, Handle output,
           const char* const* environment, Handle container, const char* user, int* process) {
    // Another user: only root may become one; the manager's own user is no
    // change at all.
    posix::Account account;
    const bool switchUser = user != nullptr && *user != '\0';
    if (switchUser && !posix::LookUpAccount(user, &account))
        return false;
    const bool otherUser = switchUser && account.userId != ::geteuid();
    if (otherUser && ::geteuid() != 0) {
        posix::SetError(EPERM);
        return false;
    }
    // Another user's program gets none of this process's environment beyond
    // the account's variables and the locale; the configured ones win.
    static const char* const kNothing[] = {nullptr};
    const char* const* added = environment != nullptr ? environment : kNothing;
    std::vector<std::string> accountVariables;
    std::vector<const char*> base;
    if (otherUser) {
        accountVariables = posix::AccountEnvironment(account, environ);
        for (const std::string& variable : accountVariables)
            base.push_back(variable.c_str());
        base.push_back(nullptr);
    }
    std::vector<char*> envp;
    char* const* variables = environ;
    if (otherUser || *added != nullptr) {
        envp = Environment(otherUser ? base.data() : environ, added);
        variables = envp.data();
    }
    if (container != kNullHandle || otherUser) {
        argv.push_back(nullptr);
        return posix::SpawnByFork(path.c_str(), argv.data(), variables, directory, kNullHandle,
                                  output, container, otherUser ? &account : nullptr, process);
    }
    return Spawn(path, argv, directory, kNullHandle, output, variables, process);
}

} // namespace

bool StartProgram(const char* file, const char* parameters, const char* directory, Handle* process,
                  Handle output, const char* const* environment, Handle container,
                  const char* user) {
    *process = kNullHandle;
    if (file == nullptr || *file == '\0') {
        posix::SetError(ENOENT);
        return false;
    }
    const std::string path = AbsolutePath(file);
    if (path.empty()) {
        posix::SetError(errno);
        return false;
    }
    std::vector<std::string> words = SplitShellWords(parameters ? parameters : "");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(file));
    for (std::string& word : words)
        argv.push_back(word.data());
    int fd = -1;
    if (!Start(path, argv, directory, output, environment, container, user, &fd))
        return false;
    *process = fd;
    return true;
}

Handle StartDetachedCopy(const char* const* arguments, Handle input) {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    self[length] = '\0';
    std::vector<char*> argv{self};
    for (const char* const* argument = arguments; *argument != nullptr; ++argument)
        argv.push_back(const_cast<char*>(*argument));
    int fd = -1;
    if (!Spawn(self, argv, nullptr, input, kNullHandle, environ, &fd))
        return kNullHandle;
    return fd;
}

bool StartShellCommand(const char* line, const char* directory, Handle* process,
                       const char* const* environment, Handle container, const char* user) {
    *process = kNullHandle;
    std::string shell = "/bin/sh";
    std::string dashC = "-c";
    std::string command = line;
    std::vector<char*> argv{shell.data(), dashC.data(), command.data()};
    int fd = -1;
    if (!Start(shell, argv, directory, kNullHandle, environment, container, user, &fd))
        return false;
    *process = fd;
    return true;
}

namespace posix {

std::vector<std::string> AccountEnvironment(const Account& account, const char* const* inherited) {
    std::vector<std::string> variables{"HOME=" + account.home, "USER=" + account.name,
                                       "LOGNAME=" + account.name, "SHELL=" + account.shell,
                                       kPlainPath};
    for (; inherited != nullptr && *inherited != nullptr; ++inherited) {
        const std::string_view variable = *inherited;
        const std::size_t equals = variable.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view name = variable.substr(0, equals);
        if (name == "LANG" || name == "TZ" || (name.size() > 3 && name.substr(0, 3) == "LC_"))
            variables.emplace_back(variable);
    }
    return variables;
}

} // namespace posix

} // namespace port
