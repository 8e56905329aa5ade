// The process list as a Toolhelp snapshot: (id, parent id) rows in the
// system's order.
#include "port/process.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <tlhelp32.h>

#include <new>
#include <type_traits>

namespace port {

// The narrow record: its size is taken from the build, since it differs
// between 32-bit and 64-bit programs and a wrong one makes the walk fail.
static_assert(std::is_same_v<std::remove_extent_t<decltype(PROCESSENTRY32::szExeFile)>, CHAR>);

struct ProcessSnapshot {
    HANDLE handle;
    PROCESSENTRY32 entry;
};

namespace {

void CopyEntry(const PROCESSENTRY32& entry, ProcessRecord* record) {
    record->processId = entry.th32ProcessID;
    record->parentProcessId = entry.th32ParentProcessID;
    record->sessionId = 0;
}

} // namespace

ProcessSnapshot* OpenProcessSnapshot() {
    win32::ScopedHandle handle(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!handle)
        return nullptr;
    ProcessSnapshot* snapshot = new (std::nothrow) ProcessSnapshot{};
    if (snapshot == nullptr) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    snapshot->handle = handle.Release();
    return snapshot;
}

bool FirstProcess(ProcessSnapshot* snapshot, ProcessRecord* record) {
    snapshot->entry = PROCESSENTRY32{};
    snapshot->entry.dwSize = sizeof(PROCESSENTRY32);
    if (!::Process32First(snapshot->handle, &snapshot->entry))
        return false;
    CopyEntry(snapshot->entry, record);
    return true;
}

bool NextProcess(ProcessSnapshot* snapshot, ProcessRecord* record) {
    if (!::Process32Next(snapshot->handle, &snapshot->entry))
        return false;
    CopyEntry(snapshot->entry, record);
    return true;
}

void CloseProcessSnapshot(ProcessSnapshot* snapshot) {
    if (snapshot == nullptr)
        return;
    const win32::ScopedHandle closing(snapshot->handle);
    delete snapshot;
}

} // namespace port
