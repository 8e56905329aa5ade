// The running processes on Windows: the Toolhelp snapshot's (id, parent id)
// rows in the system's order; or, with their executables, the ids PSAPI
// enumerates, in its order, each with the short (8.3) path name of the
// executable it runs and its parent from the snapshot.
#include "port/process.h"

#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <type_traits>
#include <unordered_map>
#include <vector>

namespace port {

using win32::FromNative;

const char kPathSeparator = '\\';

bool CanonicalPath(const char* path, std::string* canonical) {
    // The first call tells the room the short name needs.
    const DWORD needed = ::GetShortPathNameA(path, nullptr, 0);
    if (needed == 0)
        return false;
    std::vector<char> buffer(needed);
    const DWORD length = ::GetShortPathNameA(path, buffer.data(), needed);
    if (length == 0 || length >= needed) {
        if (length != 0)
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    canonical->assign(buffer.data(), length);
    return true;
}

std::uint32_t CurrentProcessId() {
    return ::GetCurrentProcessId();
}

bool ProcessImageById(std::uint32_t processId, std::string* image) {
    // A process's image can only be read through a handle: opened as the
    // walk for a running copy always has, and closed again at once.
    const win32::ScopedHandle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId));
    if (!process)
        return false;
    std::string full;
    return ProcessImageName(FromNative(process.Get()), &full) && CanonicalPath(full.c_str(), image);
}

namespace {

// The narrow record: its size is taken from the build, since it differs
// between 32-bit and 64-bit programs and a wrong one makes the walk fail.
static_assert(std::is_same_v<std::remove_extent_t<decltype(PROCESSENTRY32::szExeFile)>, CHAR>);

// The Toolhelp snapshot's rows. A snapshot taken whose first record cannot
// be read is an empty list, with the last error saying why.
bool ReadSnapshot(std::vector<ProcessRecord>* rows) {
    const win32::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32First(snapshot.Get(), &entry))
        return true;
    do
        rows->push_back(ProcessRecord{entry.th32ProcessID, entry.th32ParentProcessID});
    while (::Process32Next(snapshot.Get(), &entry));
    return true;
}

// The ids are first read with room for this many; a full buffer means there
// may be more, and they are read again with twice the room.
constexpr std::size_t kFirstIdCapacity = 4096;

// Every running process id, in PSAPI's order, however many there are.
bool EnumerateIds(std::vector<DWORD>* ids) {
    for (std::size_t capacity = kFirstIdCapacity;; capacity *= 2) {
        ids->resize(capacity);
        DWORD bytes = 0;
        if (!::EnumProcesses(ids->data(), static_cast<DWORD>(capacity * sizeof(DWORD)), &bytes))
            return false;
        const std::size_t count = bytes / sizeof(DWORD);
        if (count < capacity) {
            ids->resize(count);
            return true;
        }
    }
}

} // namespace

bool ListProcesses(std::vector<ProcessRecord>* rows, bool images) {
    rows->clear();
    std::vector<ProcessRecord> tree;
    const bool snapped = ReadSnapshot(&tree);
    if (!images) {
        *rows = std::move(tree);
        return snapped;
    }
    std::vector<DWORD> ids;
    if (!EnumerateIds(&ids))
        return false;
    // Parents as the snapshot has them; none where it could not be read.
    std::unordered_map<std::uint32_t, std::uint32_t> parents;
    for (const ProcessRecord& row : tree)
        parents.emplace(row.processId, row.parentProcessId);
    rows->reserve(ids.size());
    for (DWORD id : ids) {
        const auto parent = parents.find(id);
        rows->push_back(ProcessRecord{id, parent != parents.end() ? parent->second : 0});
        if (id != 0 && !ProcessImageById(id, &rows->back().image))
            rows->back().image.clear();
    }
    return true;
}

} // namespace port
