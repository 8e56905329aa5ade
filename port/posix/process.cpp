// Processes on Linux: /proc for the lists, pidfds as process handles,
// posix_spawn to start programs.
#include "port/process.h"
#include "port/system.h"

#include "port/posix/backend.h"
#include "port/posix/shell_words.h"
#include "port/posix/syscalls.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace port {

const char kPathSeparator = '/';

struct ProcessSnapshot {
    std::vector<ProcessRecord> rows;
    std::size_t next = 0;
};

namespace {

using posix::sys;

int PidfdOpen(int pid) {
    return sys.pidfd_open(pid, 0);
}

int PidfdSignal(int fd, int signal) {
    return sys.pidfd_send_signal(fd, signal, nullptr, 0);
}

// Only these errors of a /proc read mean that the process has ended
// meanwhile; any other (out of descriptors, say) is a failure of the reading.
bool EndedMeanwhile(int error) {
    return error == ENOENT || error == ESRCH;
}

// True when the process leads a session of its own that this process is not
// part of: its process group (with the same id) is then the one it was
// started in, and never ours.
bool LeadsOtherSession(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX))
        return false;
    const pid_t pid = static_cast<pid_t>(processId);
    return pid != ::getpid() && ::getsid(pid) == pid && ::getsid(0) != pid;
}

// The pid behind a process handle: as recorded when it was opened, else
// as the kernel shows it.
int PidOf(Handle handle) {
    if (handle <= 2 || handle > INT_MAX)
        return 0;
    const int fd = static_cast<int>(handle);
    int pid = posix::RecordedPid(fd);
    if (pid == 0)
        pid = posix::FdinfoPid(fd);
    return pid > 0 ? pid : 0;
}

bool ParsePid(const char* name, std::uint32_t* pid) {
    if (*name == '\0')
        return false;
    unsigned long value = 0;
    for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(*p - '0');
        if (value > 0xFFFFFFFFul)
            return false;
    }
    *pid = static_cast<std::uint32_t>(value);
    return true;
}

// Opens a pidfd above 0..2; -1 with errno set on failure.
int OpenPidfd(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT_MAX)) {
        errno = EINVAL;
        return -1;
    }
    int fd = PidfdOpen(static_cast<int>(processId));
    if (fd < 0)
        return -1;
    return posix::AboveStandardDescriptors(fd);
}

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

std::uint32_t CanonicalPath(const char* path, char* out, std::uint32_t size) {
    if (path == nullptr || *path == '\0') {
        posix::SetError(ENOENT);
        return 0;
    }
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) {
        posix::SetError(errno);
        return 0;
    }
    const std::size_t length = std::strlen(resolved);
    if (length + 1 > size) {
        std::free(resolved);
        posix::SetError(ENAMETOOLONG);
        return 0;
    }
    std::memcpy(out, resolved, length + 1);
    std::free(resolved);
    return static_cast<std::uint32_t>(length);
}

bool ListProcessIds(std::uint32_t* ids, std::uint32_t capacity, std::uint32_t* count) {
    *count = 0;
    DIR* proc = sys.opendir("/proc");
    if (proc == nullptr) {
        posix::SetError(errno);
        return false;
    }
    std::uint32_t n = 0;
    int error = 0;
    while (n < capacity) {
        errno = 0;
        const struct dirent* entry = ::readdir(proc);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        std::uint32_t pid = 0;
        if (ParsePid(entry->d_name, &pid))
            ids[n++] = pid;
    }
    ::closedir(proc);
    if (error != 0) {
        posix::SetError(error);
        return false;
    }
    *count = n;
    return true;
}

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

std::uint32_t ProcessImageById(std::uint32_t processId, char* out, std::uint32_t size) {
    // The kernel names the executable by its resolved absolute path, which is
    // what CanonicalPath gives for it: no resolution is needed here.
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%u/exe", processId);
    const ssize_t length = sys.readlinkat(AT_FDCWD, link, out, size);
    if (length < 0) {
        posix::SetError(errno);
        return 0;
    }
    if (static_cast<std::size_t>(length) >= size) {
        posix::SetError(ENAMETOOLONG);
        return 0;
    }
    out[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

Handle OpenProcessFull(std::uint32_t processId) {
    int fd = OpenPidfd(processId);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    posix::RememberProcess(fd, static_cast<int>(processId));
    return fd;
}

std::uint32_t ProcessImageName(Handle process, char* out, std::uint32_t size) {
    const int pid = PidOf(process);
    if (pid == 0) {
        posix::SetError(ESRCH);
        return 0;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%d/exe", pid);
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = sys.readlinkat(AT_FDCWD, link, target.data(), target.size());
    if (length < 0) {
        posix::SetError(errno);
        return 0;
    }
    if (static_cast<std::size_t>(length) >= target.size() ||
        static_cast<std::uint32_t>(length) + 1 > size) {
        posix::SetError(ENAMETOOLONG);
        return 0;
    }
    // The name was read by pid: it belongs to this handle's process only if
    // that process still runs (else the pid may have been reused).
    if (PidfdSignal(static_cast<int>(process), 0) != 0) {
        posix::SetError(errno);
        return 0;
    }
    std::memcpy(out, target.data(), static_cast<std::size_t>(length));
    out[length] = '\0';
    return static_cast<std::uint32_t>(length);
}

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
        sys.posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        *error = static_cast<std::uint32_t>(result);
        posix::SetError(result);
        return false;
    }

    int fd = OpenPidfd(static_cast<std::uint32_t>(pid));
    if (fd < 0) {
        // Without a handle the child could be neither watched nor reaped:
        // it is ended and reaped here, and the start counts as failed.
        const int openError = errno;
        sys.kill(pid, SIGKILL);
        siginfo_t info;
        while (sys.waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) < 0 && errno == EINTR) {
        }
        *error = static_cast<std::uint32_t>(openError);
        posix::SetError(openError);
        return false;
    }
    posix::RememberProcess(fd, static_cast<int>(pid));
    *process = fd;
    return true;
}

std::uint32_t ProcessIdOf(Handle process) {
    const int pid = PidOf(process);
    if (pid == 0) {
        posix::SetError(ESRCH);
        return 0;
    }
    return static_cast<std::uint32_t>(pid);
}

Handle OpenProcessForTermination(std::uint32_t processId) {
    int fd = OpenPidfd(processId);
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    // A process we may not signal counts as one that cannot be opened.
    if (PidfdSignal(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        posix::SetError(error);
        return kNullHandle;
    }
    posix::RememberProcess(fd, static_cast<int>(processId));
    return fd;
}

bool LastOpenFoundNoProcess() {
    return LastError() == static_cast<std::uint32_t>(ESRCH);
}

bool SuspendProcess(std::uint32_t processId) {
    // A signal to a whole group is also given to the children its members
    // are forking at that moment; one to a single process is not.
    if (LeadsOtherSession(processId))
        return sys.kill(-static_cast<pid_t>(processId), SIGSTOP) == 0;
    if (processId == CurrentProcessId())
        return false;
    const int fd = OpenPidfd(processId);
    if (fd < 0)
        return false;
    const bool stopped = PidfdSignal(fd, SIGSTOP) == 0;
    ::close(fd);
    return stopped;
}

bool EndProcessGroup(std::uint32_t processId) {
    if (!LeadsOtherSession(processId))
        return false;
    return sys.kill(-static_cast<pid_t>(processId), SIGKILL) == 0;
}

bool TerminateProcessHandle(Handle process, std::uint32_t) {
    if (process <= 2 || process > INT_MAX) {
        posix::SetError(EBADF);
        return false;
    }
    // A process that ended since it was opened has what was asked for.
    if (PidfdSignal(static_cast<int>(process), SIGKILL) != 0 && errno != ESRCH) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

ProcessSnapshot* OpenProcessSnapshot() {
    DIR* proc = sys.opendir("/proc");
    if (proc == nullptr) {
        posix::SetError(errno);
        return nullptr;
    }
    auto* snapshot = new ProcessSnapshot;
    const int procFd = ::dirfd(proc);
    char path[32];
    char text[1024];
    int error = 0;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(proc);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        std::uint32_t pid = 0;
        if (!ParsePid(entry->d_name, &pid))
            continue;
        std::snprintf(path, sizeof path, "%u/stat", pid);
        if (posix::ReadProcFile(procFd, path, text, sizeof text) < 0) {
            if (EndedMeanwhile(errno))
                continue;
            error = errno;
            break;
        }
        // "pid (comm) state ppid pgrp session ...": the name may hold blanks
        // and ')'. It is at most 16 bytes, so the fields after it are within
        // the read.
        const char* close = std::strrchr(text, ')');
        char state = 0;
        long parent = 0;
        long group = 0;
        long session = 0;
        if (close == nullptr ||
            std::sscanf(close + 1, " %c %ld %ld %ld", &state, &parent, &group, &session) != 4)
            continue;
        snapshot->rows.push_back(
            ProcessRecord{pid, static_cast<std::uint32_t>(parent < 0 ? 0 : parent),
                          static_cast<std::uint32_t>(session < 0 ? 0 : session)});
    }
    ::closedir(proc);
    if (error != 0) {
        delete snapshot;
        posix::SetError(error);
        return nullptr;
    }
    // /proc lists processes in id order already; sorting keeps that promise.
    std::sort(
        snapshot->rows.begin(), snapshot->rows.end(),
        [](const ProcessRecord& a, const ProcessRecord& b) { return a.processId < b.processId; });
    return snapshot;
}

bool FirstProcess(ProcessSnapshot* snapshot, ProcessRecord* record) {
    if (snapshot == nullptr) {
        posix::SetError(EINVAL);
        return false;
    }
    snapshot->next = 0;
    return NextProcess(snapshot, record);
}

bool NextProcess(ProcessSnapshot* snapshot, ProcessRecord* record) {
    if (snapshot == nullptr) {
        posix::SetError(EINVAL);
        return false;
    }
    if (snapshot->next >= snapshot->rows.size()) {
        posix::SetError(ENOENT);
        return false;
    }
    *record = snapshot->rows[snapshot->next++];
    return true;
}

void CloseProcessSnapshot(ProcessSnapshot* snapshot) {
    delete snapshot;
}

namespace posix {

ssize_t ReadProcFile(int directory, const char* path, char* text, std::size_t size) {
    const int fd = sys.openat(directory, path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    ssize_t n;
    do {
        n = sys.read(fd, text, size - 1);
    } while (n < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (n < 0) {
        errno = error;
        return -1;
    }
    text[n] = '\0';
    return n;
}

} // namespace posix

} // namespace port
