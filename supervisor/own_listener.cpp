#include "supervisor/own_listener.h"

#include "port/containment.h"
#include "port/process.h"
#include "supervisor/process_tree.h"

#include <map>
#include <unordered_set>

std::vector<port::ProcessRecord> ProcessRows() {
    std::vector<port::ProcessRecord> rows;
    if (!port::ListProcesses(&rows))
        rows.clear();
    return rows;
}

std::vector<std::uint32_t> ApplicationProcessIds(const AppEntry& entry,
                                                 const std::vector<port::ProcessRecord>* list) {
    std::vector<std::uint32_t> ids;
    if (entry.contained && entry.container &&
        port::ContainerProcessIds(entry.container.Get(), &ids))
        return ids;
    const std::uint32_t root = entry.process ? port::ProcessIdOf(entry.process.Get()) : 0;
    if (root == 0)
        return ids;
    ids.push_back(root);
    std::vector<port::ProcessRecord> own;
    if (list == nullptr) {
        own = ProcessRows();
        list = &own;
    }
    std::multimap<std::uint32_t, std::uint32_t> children; // parent id -> child id
    for (const port::ProcessRecord& record : *list) {
        if (record.processId == root)
            continue;
        if (record.sessionId == root)
            ids.push_back(record.processId);
        else
            children.emplace(record.parentProcessId, record.processId);
    }
    // Descendants level by level; an id is taken once, so that a loop of
    // recorded parents cannot hold the walk.
    std::unordered_set<std::uint32_t> taken(ids.begin(), ids.end());
    for (std::size_t at = 0; at < ids.size(); ++at) {
        const auto [first, last] = children.equal_range(ids[at]);
        for (auto child = first; child != last; ++child)
            if (taken.insert(child->second).second)
                ids.push_back(child->second);
    }
    return ids;
}

bool PortCounts(const AppEntry& entry, const TcpAddress& address, bool* heldByOther) {
    const port::Listener listener =
        port::FindListener(address.host.c_str(), address.port, ApplicationProcessIds(entry));
    *heldByOther = listener == port::Listener::Other;
    return listener == port::Listener::Own || listener == port::Listener::Unknown;
}
