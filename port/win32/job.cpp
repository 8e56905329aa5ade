// Containers on Windows: a job object per application, named after the
// user and the display name, without kill-on-close, so that the processes
// outlive the manager and a later manager opens the job by its name. Windows
// gives no handle that is signalled when a job empties; the core looks.
#include "port/containment.h"
#include "port/process.h"

#include "common/text.h"
#include "port/win32/account.h"
#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <vector>

namespace port {

using win32::FromNative;
using win32::ToNative;

const char* const kContainerKind = "job";

bool PrepareContainers() {
    return true;
}

void ReleaseContainers() {}

std::string ContainerName(const char* displayName, int place) {
    return "ZelkAppMgr-" + win32::UserSid() + "-" + EscapedName(displayName) +
           ContainerPlaceSuffix(place);
}

// '+' is never part of an escaped display name, so no application's job
// has this name.
std::string CheckContainerName(const char* displayName) {
    return "ZelkAppMgr-" + win32::UserSid() + "+check-" + EscapedName(displayName);
}

Handle OpenContainer(const char* name, bool create) {
    // Not inheritable; no limits set, so no kill-on-close either.
    return FromNative(create ? ::CreateJobObjectA(nullptr, name)
                             : ::OpenJobObjectA(JOB_OBJECT_ALL_ACCESS, FALSE, name));
}

void CloseContainer(Handle container) {
    const win32::ScopedHandle closing(ToNative(container));
}

bool RemoveContainer(Handle container) {
    bool populated = true;
    const bool empty = ContainerPopulated(container, &populated) && !populated;
    CloseContainer(container);
    if (!empty)
        ::SetLastError(ERROR_BUSY);
    return empty;
}

bool ContainerProcessIds(Handle container, std::vector<std::uint32_t>* ids) {
    std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 256 * sizeof(ULONG_PTR));
    for (;;) {
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        if (::QueryInformationJobObject(ToNative(container), JobObjectBasicProcessIdList, list,
                                        static_cast<DWORD>(buffer.size()), nullptr)) {
            ids->assign(list->ProcessIdList, list->ProcessIdList + list->NumberOfProcessIdsInList);
            return true;
        }
        if (::GetLastError() != ERROR_MORE_DATA)
            return false;
        buffer.resize(buffer.size() * 2);
    }
}

bool ContainerPopulated(Handle container, bool* populated) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!::QueryInformationJobObject(ToNative(container), JobObjectBasicAccountingInformation,
                                     &accounting, sizeof accounting, nullptr))
        return false;
    *populated = accounting.ActiveProcesses > 0;
    return true;
}

bool AskContainerToEnd(Handle container, std::uint32_t, int signal) {
    std::vector<std::uint32_t> ids;
    if (!ContainerProcessIds(container, &ids))
        return false;
    for (std::uint32_t id : ids)
        AskProcessToEnd(id, signal);
    return true;
}

bool EndContainer(Handle container) {
    // The exit code of a terminated process (-1 as a signed number).
    return ::TerminateJobObject(ToNative(container), 0xFFFFFFFFu) != 0;
}

Handle ContainerWatch() {
    return kNullHandle;
}

void TakeContainerNotices() {}

} // namespace port
