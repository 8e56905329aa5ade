// The running processes on Linux: one pass over /proc giving each process's
// id, parent, session, group and state (/proc/<pid>/stat) and, when asked,
// the executable it runs (/proc/<pid>/exe), compared by canonical path.
#include "port/process.h"

#include "port/posix/backend.h"
#include "port/posix/proc_files.h"
#include "port/posix/syscalls.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace port {

const char kPathSeparator = '/';

bool CanonicalPath(const char* path, std::string* canonical) {
    if (path == nullptr || *path == '\0') {
        posix::SetError(ENOENT);
        return false;
    }
    char* resolved = ::realpath(path, nullptr);
    if (resolved == nullptr) {
        posix::SetError(errno);
        return false;
    }
    canonical->assign(resolved);
    std::free(resolved);
    return true;
}

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

namespace posix {

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

} // namespace posix

namespace {

// The executable of process `pid`, read through `directory` (an open /proc,
// or AT_FDCWD). The kernel names it by its resolved absolute path, which is
// what CanonicalPath gives for it: no resolution is needed here.
bool ReadImageAt(int directory, std::uint32_t pid, std::string* image) {
    char link[32];
    if (directory == AT_FDCWD)
        std::snprintf(link, sizeof link, "/proc/%u/exe", pid);
    else
        std::snprintf(link, sizeof link, "%u/exe", pid);
    char target[PATH_MAX];
    const ssize_t length = posix::sys.readlinkat(directory, link, target, sizeof target);
    if (length < 0) {
        posix::SetError(errno);
        return false;
    }
    if (static_cast<std::size_t>(length) >= sizeof target) {
        posix::SetError(ENAMETOOLONG);
        return false;
    }
    image->assign(target, static_cast<std::size_t>(length));
    return true;
}

} // namespace

bool ProcessImageById(std::uint32_t processId, std::string* image) {
    return ReadImageAt(AT_FDCWD, processId, image);
}

bool ListProcesses(std::vector<ProcessRecord>* rows, bool images) {
    rows->clear();
    int error = 0;
    const bool listed = posix::ForEachProcessId([&](int proc, std::uint32_t pid) {
        posix::ProcStat stat{};
        const int read = posix::ReadProcStat(proc, pid, &stat);
        if (read < 0) {
            // Only these mean that the process has ended meanwhile; any other
            // error (out of descriptors, say) fails the reading.
            if (errno == ENOENT || errno == ESRCH)
                return true;
            error = errno;
            return false;
        }
        if (read == 0)
            return true;
        rows->push_back(ProcessRecord{pid, stat.parent, stat.session, stat.group,
                                      stat.state == 'Z' || stat.state == 'X'});
        if (images)
            ReadImageAt(proc, pid, &rows->back().image);
        return true;
    });
    if (!listed || error != 0) {
        rows->clear();
        if (error != 0)
            posix::SetError(error);
        return false;
    }
    // /proc lists processes in id order already; sorting keeps that promise.
    std::sort(rows->begin(), rows->end(), [](const ProcessRecord& a, const ProcessRecord& b) {
        return a.processId < b.processId;
    });
    return true;
}

} // namespace port
