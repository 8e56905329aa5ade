#include "supervisor/start_order.h"

#include "common/text.h"

#include <algorithm>
#include <string_view>

namespace {

int IndexOf(const std::vector<std::string>& names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!names[i].empty() && AsciiEqualNoCase(std::string_view(names[i]), name))
            return static_cast<int>(i);
    return -1;
}

// A path app -> ... -> app along `edges` (breadth first, shortest), or empty
// when app is on no cycle.
std::vector<int> CycleThrough(const std::vector<std::vector<int>>& edges, int app) {
    const std::size_t count = edges.size();
    std::vector<int> from(count, -2);
    std::vector<int> queue;
    for (int next : edges[static_cast<std::size_t>(app)]) {
        if (from[static_cast<std::size_t>(next)] == -2) {
            from[static_cast<std::size_t>(next)] = app;
            queue.push_back(next);
        }
    }
    for (std::size_t at = 0; at < queue.size(); ++at) {
        const int node = queue[at];
        if (node == app) {
            std::vector<int> path{app};
            for (int step = from[static_cast<std::size_t>(app)]; step != app;
                 step = from[static_cast<std::size_t>(step)])
                path.push_back(step);
            path.push_back(app);
            std::reverse(path.begin() + 1, path.end() - 1);
            return path;
        }
        for (int next : edges[static_cast<std::size_t>(node)]) {
            if (from[static_cast<std::size_t>(next)] == -2) {
                from[static_cast<std::size_t>(next)] = node;
                queue.push_back(next);
            }
        }
    }
    return {};
}

} // namespace

StartOrder ResolveStartOrder(const std::vector<std::string>& names,
                             const std::vector<std::vector<std::string>>& after) {
    const std::size_t count = names.size();
    StartOrder order;
    order.after.assign(count, {});
    order.ignored.assign(count, std::string());
    for (std::size_t i = 0; i < count && i < after.size(); ++i) {
        if (names[i].empty())
            continue;
        for (const std::string& name : after[i]) {
            const int index = IndexOf(names, name);
            if (index < 0) {
                order.ignored[i] = "unknown application " + name;
                order.after[i].clear();
                break;
            }
            if (std::find(order.after[i].begin(), order.after[i].end(), index) ==
                order.after[i].end())
                order.after[i].push_back(index);
        }
    }
    // Every application on a cycle has its order ignored; the edges of the
    // others stay, and no cycle is left then.
    std::vector<std::string> cycles(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<int> path = CycleThrough(order.after, static_cast<int>(i));
        for (std::size_t step = 0; step < path.size(); ++step)
            cycles[i] +=
                (step == 0 ? "cycle " : " -> ") + names[static_cast<std::size_t>(path[step])];
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!cycles[i].empty()) {
            order.ignored[i] = cycles[i];
            order.after[i].clear();
        }
    }
    // Each application once all it starts after are placed, the lowest index first.
    std::vector<bool> placed(count, false);
    while (order.sequence.size() < count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (placed[i])
                continue;
            const std::vector<int>& before = order.after[i];
            if (std::all_of(before.begin(), before.end(),
                            [&](int b) { return placed[static_cast<std::size_t>(b)]; })) {
                placed[i] = true;
                order.sequence.push_back(static_cast<int>(i));
                break;
            }
        }
    }
    return order;
}

bool MayStart(const StartOrder& order, int app, const std::vector<bool>& ready) {
    const std::vector<int>& before = order.after[static_cast<std::size_t>(app)];
    return std::all_of(before.begin(), before.end(),
                       [&](int b) { return ready[static_cast<std::size_t>(b)]; });
}

bool MayStop(const StartOrder& order, int app, const std::vector<bool>& down) {
    for (std::size_t i = 0; i < order.after.size(); ++i) {
        const std::vector<int>& before = order.after[i];
        if (!down[i] && std::find(before.begin(), before.end(), app) != before.end())
            return false;
    }
    return true;
}
