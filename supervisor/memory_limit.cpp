#include "supervisor/memory_limit.h"

#include "common/text.h"
#include "console/console.h"
#include "port/usage.h"
#include "supervisor/usage.h"

namespace {

void OnMemoryDue(void* context) {
    AppEntry& entry = *static_cast<AppEntry*>(context);
    MemoryWatch& watch = entry.memory;
    watch.next.Start(kMemoryCheckMs, OnMemoryDue, &entry);
    const std::uint64_t limit = entry.settings.maxMemoryBytes;
    const port::Usage usage = ReadAppUsage(entry);
    if (!usage.memoryKnown || usage.memoryBytes <= limit) {
        watch.overInARow = 0;
        return;
    }
    if (++watch.overInARow < kMemoryReadingsOver)
        return;
    watch.overInARow = 0;
    PrintMessage("%s uses %s, over its limit of %s; restarting it.", entry.settings.name.c_str(),
                 SizeText(usage.memoryBytes).c_str(), SizeText(limit).c_str());
    watch.report(entry, AppEvent::RestartAsked);
}

// The container's memory.high follows the limit; where it cannot, the
// readings alone bound it.
void SetHigh(AppEntry& entry, std::uint64_t bytes) {
    MemoryWatch& watch = entry.memory;
    if (watch.highSet == bytes || !entry.contained || !entry.container)
        return;
    if (port::SetContainerMemoryHigh(entry.container.Get(), bytes))
        watch.highSet = bytes;
}

} // namespace

void KeepMemoryWatch(AppEntry& entry, WatchReport report) {
    const std::uint64_t limit = entry.settings.maxMemoryBytes;
    if (limit == 0 || !IsUp(entry)) {
        EndMemoryWatch(entry);
        return;
    }
    MemoryWatch& watch = entry.memory;
    watch.report = report;
    SetHigh(entry, limit);
    if (!watch.next.Pending())
        watch.next.Start(kMemoryCheckMs, OnMemoryDue, &entry);
}

void EndMemoryWatch(AppEntry& entry) {
    MemoryWatch& watch = entry.memory;
    watch.next.Cancel();
    watch.overInARow = 0;
    SetHigh(entry, 0);
}
