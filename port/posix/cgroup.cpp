// Containers on Linux: cgroups of the cgroup v2 hierarchy. The manager makes
// one for itself below the cgroup it runs in, named after the user and the
// runtime directory, and one below that for each application, named after
// its display name; an inotify descriptor watches every open cgroup's
// cgroup.events, whose "populated" line tells whether it holds a process.
#include "port/containment.h"
#include "port/system.h"

#include "common/text.h"
#include "port/posix/backend.h"
#include "port/posix/proc_files.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace port {

const char* const kContainerKind = "cgroup";

namespace {

struct OpenCgroup {
    int fd;
    std::string path;
    int watch; // its cgroup.events in the inotify descriptor; -1: not watched
};

struct Cgroups {
    std::string manager; // the path of the manager's own cgroup; empty until prepared
    int notices = -1;    // the inotify descriptor
    std::vector<OpenCgroup> open;
};

Cgroups& State() {
    static Cgroups* state = new Cgroups;
    return *state;
}

OpenCgroup* Find(Handle container) {
    for (OpenCgroup& group : State().open)
        if (group.fd == container)
            return &group;
    return nullptr;
}

bool WriteAt(int directory, const char* name, const char* text) {
    const posix::UniqueFd fd(posix::OpenatNoIntr(directory, name, O_WRONLY | O_CLOEXEC, 0));
    if (!fd) {
        posix::SetError(errno);
        return false;
    }
    const bool written = posix::WriteNoIntr(fd.Get(), text, std::strlen(text)) ==
                         static_cast<ssize_t>(std::strlen(text));
    if (!written)
        posix::SetError(errno);
    return written;
}

// The mount point of the cgroup v2 hierarchy, from /proc/self/mountinfo:
// "id parent major:minor root mountpoint options ... - cgroup2 source ...".
bool FindHierarchy(std::string* mount) {
    std::string text;
    if (!posix::ReadWholeFile(AT_FDCWD, "/proc/self/mountinfo", 0, &text))
        return false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t dash = line.find(" - ");
        if (dash == std::string::npos || line.compare(dash + 3, 8, "cgroup2 ") != 0)
            continue;
        char point[4096];
        if (std::sscanf(line.c_str(), "%*s %*s %*s %*s %4095s", point) != 1)
            continue;
        // Blanks and backslashes in the path are written as octal escapes.
        mount->clear();
        for (const char* p = point; *p != '\0'; ++p) {
            if (p[0] == '\\' && p[1] >= '0' && p[1] <= '3' && p[2] != '\0' && p[3] != '\0') {
                *mount += static_cast<char>((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
                p += 3;
            } else {
                *mount += *p;
            }
        }
        return true;
    }
    posix::SetError(ENOENT);
    return false;
}

// The cgroup v2 path this process runs in, from /proc/self/cgroup ("0::/path").
bool OwnCgroup(std::string* path) {
    std::string text;
    if (!posix::ReadWholeFile(AT_FDCWD, "/proc/self/cgroup", 0, &text))
        return false;
    const std::size_t at = text.rfind("0::", 0) == 0 ? 0 : text.find("\n0::");
    if (at == std::string::npos) {
        posix::SetError(ENOENT);
        return false;
    }
    const std::size_t begin = text.find("::", at) + 2;
    *path = text.substr(begin, text.find('\n', begin) - begin);
    while (!path->empty() && path->back() == '/')
        path->pop_back();
    return true;
}

std::uint64_t Hash(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// The prefix of the cgroups of health commands; an application's is "app-".
constexpr char kCheckPrefix[] = "check-";

// A display name as a cgroup's name: letters, digits, '.', '_' and '-' kept,
// every other byte as %XX; `prefix` before it, so that it can be no file of
// the cgroup's own. A very long name is cut and its hash added.
std::string CgroupName(const char* displayName, const char* prefix = "app-") {
    std::string name = prefix + EscapedName(displayName);
    if (name.size() > 200) {
        char hash[24];
        std::snprintf(hash, sizeof hash, "~%016llx",
                      static_cast<unsigned long long>(Hash(displayName)));
        name = name.substr(0, 180) + hash;
    }
    return name;
}

} // namespace

bool PrepareContainers() {
    Cgroups& state = State();
    if (!state.manager.empty())
        return true;
    std::string mount;
    std::string own;
    if (!FindHierarchy(&mount) || !OwnCgroup(&own))
        return false;
    std::string problem;
    const std::string runtime = posix::RuntimeDirectory(&problem);
    if (runtime.empty()) {
        posix::SetError(errno != 0 ? errno : ENOENT, problem);
        return false;
    }
    char name[64];
    std::snprintf(name, sizeof name, "zelkappmgr-%u-%016llx", static_cast<unsigned>(::geteuid()),
                  static_cast<unsigned long long>(Hash(runtime)));
    const std::string path = mount + own + "/" + name;
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        posix::SetError(errno);
        return false;
    }
    // Found there from before, it must be a cgroup this process may fill.
    if (::access((path + "/cgroup.procs").c_str(), W_OK) != 0) {
        posix::SetError(errno);
        return false;
    }
    state.manager = path;
    const int notices = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    state.notices = notices < 0 ? -1 : posix::AboveStandardDescriptors(notices);
    return true;
}

void ReleaseContainers() {
    Cgroups& state = State();
    if (state.manager.empty())
        return;
    // The health commands' cgroups that are empty go first: they are the
    // manager's alone.
    if (const posix::UniqueDir directory(::opendir(state.manager.c_str())); directory) {
        while (const dirent* entry = ::readdir(directory.Get()))
            if (std::strncmp(entry->d_name, kCheckPrefix, sizeof kCheckPrefix - 1) == 0)
                ::unlinkat(::dirfd(directory.Get()), entry->d_name, AT_REMOVEDIR);
    }
    ::rmdir(state.manager.c_str());
}

std::string ContainerName(const char* displayName, int place) {
    return State().manager + "/" + CgroupName(displayName) + ContainerPlaceSuffix(place);
}

std::string CheckContainerName(const char* displayName) {
    return State().manager + "/" + CgroupName(displayName, kCheckPrefix);
}

Handle OpenContainer(const char* name, bool create) {
    if (create && ::mkdir(name, 0755) != 0 && errno != EEXIST) {
        posix::SetError(errno);
        return kNullHandle;
    }
    posix::UniqueFd opened(
        posix::OpenatNoIntr(AT_FDCWD, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (opened && ::faccessat(opened.Get(), "cgroup.events", F_OK, 0) != 0) {
        opened.Reset();
        errno = ENOTDIR; // no cgroup
    }
    const int fd = opened ? posix::AboveStandardDescriptors(opened.Release()) : -1;
    if (fd < 0) {
        posix::SetError(errno);
        return kNullHandle;
    }
    Cgroups& state = State();
    const int watch =
        state.notices < 0
            ? -1
            : ::inotify_add_watch(state.notices, (std::string(name) + "/cgroup.events").c_str(),
                                  IN_MODIFY);
    state.open.push_back(OpenCgroup{fd, name, watch});
    return fd;
}

void CloseContainer(Handle container) {
    Cgroups& state = State();
    const OpenCgroup* group = Find(container);
    if (group == nullptr)
        return;
    if (group->watch >= 0)
        ::inotify_rm_watch(state.notices, group->watch);
    posix::UniqueFd closing(group->fd);
    state.open.erase(state.open.begin() + (group - state.open.data()));
}

bool RemoveContainer(Handle container) {
    const OpenCgroup* group = Find(container);
    if (group == nullptr) {
        posix::SetError(EBADF);
        return false;
    }
    const bool removed = ::rmdir(group->path.c_str()) == 0;
    const int error = errno;
    CloseContainer(container);
    if (!removed)
        posix::SetError(error);
    return removed;
}

bool ContainerProcessIds(Handle container, std::vector<std::uint32_t>* ids) {
    std::string text;
    if (!posix::ReadWholeFile(static_cast<int>(container), "cgroup.procs", 0, &text))
        return false;
    ids->clear();
    for (const char* at = text.c_str(); *at != '\0';) {
        char* end = nullptr;
        const unsigned long id = std::strtoul(at, &end, 10);
        if (end == at)
            break;
        ids->push_back(static_cast<std::uint32_t>(id));
        at = end;
    }
    return true;
}

bool ContainerPopulated(Handle container, bool* populated) {
    std::string text;
    if (!posix::ReadWholeFile(static_cast<int>(container), "cgroup.events", 0, &text))
        return false;
    const std::size_t at = text.find("populated ");
    if (at == std::string::npos) {
        posix::SetError(EINVAL);
        return false;
    }
    *populated = text[at + 10] != '0';
    return true;
}

bool AskContainerToEnd(Handle container, std::uint32_t groupAsked, int signal) {
    std::vector<std::uint32_t> ids;
    if (!ContainerProcessIds(container, &ids))
        return false;
    const pid_t self = ::getpid();
    for (std::uint32_t id : ids) {
        const pid_t pid = static_cast<pid_t>(id);
        if (pid != self && (groupAsked == 0 || ::getpgid(pid) != static_cast<pid_t>(groupAsked)) &&
            posix::sys.kill(pid, signal != 0 ? signal : SIGTERM) == 0)
            posix::sys.kill(pid, SIGCONT); // a stopped process acts on it at once
    }
    return true;
}

bool EndContainer(Handle container) {
    const int fd = static_cast<int>(container);
    if (WriteAt(fd, "cgroup.kill", "1"))
        return true;
    if (LastError() != ENOENT)
        return false;
    // A kernel without cgroup.kill: the cgroup is frozen so that nothing in
    // it forks meanwhile, each process gets SIGKILL (which ends a frozen
    // process too), and whatever a fork under way added is ended after.
    if (!WriteAt(fd, "cgroup.freeze", "1"))
        return false;
    std::vector<std::uint32_t> ids;
    for (int reading = 0; reading < 3 && ContainerProcessIds(container, &ids) && !ids.empty();
         ++reading)
        for (std::uint32_t id : ids)
            posix::sys.kill(static_cast<pid_t>(id), SIGKILL);
    return WriteAt(fd, "cgroup.freeze", "0");
}

Handle ContainerWatch() {
    return State().notices < 0 ? kNullHandle : State().notices;
}

void TakeContainerNotices() {
    alignas(inotify_event) char buffer[4096];
    while (State().notices >= 0 && posix::ReadNoIntr(State().notices, buffer, sizeof buffer) > 0) {
    }
}

} // namespace port
