// The process list as a snapshot of (id, parent id, session, group, ended)
// rows, read in one pass over /proc/<pid>/stat.
#include "port/process.h"

#include "port/posix/backend.h"
#include "port/posix/proc_files.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace port {

struct ProcessSnapshot {
    std::vector<ProcessRecord> rows;
    std::size_t next = 0;
};

ProcessSnapshot* OpenProcessSnapshot() {
    auto* snapshot = new ProcessSnapshot;
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
        if (read > 0)
            snapshot->rows.push_back(ProcessRecord{pid, stat.parent, stat.session, stat.group,
                                                   stat.state == 'Z' || stat.state == 'X'});
        return true;
    });
    if (!listed || error != 0) {
        delete snapshot;
        if (error != 0)
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

} // namespace port
