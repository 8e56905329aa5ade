#include "supervisor/usage.h"

#include "supervisor/own_listener.h"

port::Usage ReadAppUsage(const AppEntry& entry, const std::vector<port::ProcessRecord>* list) {
    port::Usage usage;
    if (!entry.process)
        return usage;
    if (entry.contained && entry.container)
        port::ReadContainerUsage(entry.container.Get(), &usage);
    if (usage.cpuKnown && usage.memoryKnown)
        return usage;
    port::Usage summed;
    for (const std::uint32_t processId : ApplicationProcessIds(entry, list))
        port::AddProcessUsage(processId, &summed);
    if (!usage.cpuKnown) {
        usage.cpuKnown = summed.cpuKnown;
        usage.cpuMs = summed.cpuMs;
    }
    if (!usage.memoryKnown) {
        usage.memoryKnown = summed.memoryKnown;
        usage.memoryBytes = summed.memoryBytes;
    }
    return usage;
}
