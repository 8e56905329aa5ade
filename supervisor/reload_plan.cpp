#include "supervisor/reload_plan.h"

#include "common/text.h"

#include <string_view>
#include <utility>

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return AsciiEqualNoCase(std::string_view(a), std::string_view(b));
}

// The `nth` (from 0) slot of the table with this name that is removed (or
// not), not yet taken by the plan; -1 when there is none.
int NthSlot(const std::vector<TableSlot>& table, const std::vector<bool>& taken,
            const std::string& name, bool removed, int nth) {
    for (int i = 0; i < static_cast<int>(table.size()); ++i) {
        const TableSlot& slot = table[static_cast<std::size_t>(i)];
        if (slot.removed != removed || !SameName(slot.name, name) ||
            taken[static_cast<std::size_t>(i)])
            continue;
        if (nth-- == 0)
            return i;
    }
    return -1;
}

} // namespace

ReloadPlan PlanReload(const std::vector<TableSlot>& table, const std::vector<std::string>& names,
                      int capacity) {
    ReloadPlan plan;
    std::vector<bool> taken(table.size(), false);
    std::vector<SlotMatch> matches(names.size(), SlotMatch::Refused);
    std::vector<int> numbers(names.size(), -1);
    // The applications that stay, each with the one of its name at the same
    // place among those of that name.
    for (std::size_t i = 0; i < names.size(); ++i) {
        int earlier = 0;
        for (std::size_t j = 0; j < i; ++j)
            earlier += SameName(names[j], names[i]);
        const int kept =
            NthSlot(table, std::vector<bool>(table.size(), false), names[i], false, earlier);
        if (kept >= 0) {
            matches[i] = SlotMatch::Kept;
            numbers[i] = kept;
            taken[static_cast<std::size_t>(kept)] = true;
        }
    }
    for (int i = 0; i < static_cast<int>(table.size()); ++i)
        if (!table[static_cast<std::size_t>(i)].removed && !taken[static_cast<std::size_t>(i)])
            plan.removed.push_back(i);
    // Names that come back take their old numbers first; new names then take
    // the next number never used, or the lowest empty one.
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (matches[i] != SlotMatch::Refused)
            continue;
        const int number = NthSlot(table, taken, names[i], true, 0);
        if (number < 0)
            continue;
        matches[i] = SlotMatch::Returned;
        numbers[i] = number;
        taken[static_cast<std::size_t>(number)] = true;
    }
    int next = static_cast<int>(table.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (matches[i] != SlotMatch::Refused)
            continue;
        if (next < capacity) {
            matches[i] = SlotMatch::Added;
            numbers[i] = next++;
            continue;
        }
        for (std::size_t j = 0; j < table.size(); ++j) {
            if (table[j].empty && !taken[j]) {
                matches[i] = SlotMatch::Reused;
                numbers[i] = static_cast<int>(j);
                taken[j] = true;
                break;
            }
        }
    }
    plan.matches = std::move(matches);
    plan.numbers = std::move(numbers);
    return plan;
}
