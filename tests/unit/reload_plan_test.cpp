// How a reload pairs the applications of the file with the numbers of the
// table, and which numbers new and returning names take.
#include "supervisor/reload_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using M = SlotMatch;

TableSlot Live(const char* name) {
    return TableSlot{name, false, false};
}
TableSlot Gone(const char* name, bool empty = true) {
    return TableSlot{name, true, empty};
}

TEST(ReloadPlan, PairsByNameThenByPlaceAndNumbersWhatIsNew) {
    const struct {
        const char* what;
        std::vector<TableSlot> table;
        std::vector<std::string> names;
        int capacity;
        std::vector<M> matches;
        std::vector<int> numbers;
        std::vector<int> removed;
    } cases[] = {
        {"an unchanged file",
         {Live("a"), Live("b")},
         {"a", "b"},
         15,
         {M::Kept, M::Kept},
         {0, 1},
         {}},
        {"names differing in case, in their order",
         {Live("web"), Live("Web")},
         {"web", "Web"},
         15,
         {M::Kept, M::Kept},
         {0, 1},
         {}},
        {"a name listed twice, then once", {Live("x"), Live("x")}, {"x"}, 15, {M::Kept}, {0}, {1}},
        {"a name spelt in another case", {Live("A")}, {"a"}, 15, {M::Kept}, {0}, {}},
        {"one removed",
         {Live("a"), Live("b"), Live("c")},
         {"a", "c"},
         15,
         {M::Kept, M::Kept},
         {0, 2},
         {1}},
        {"a name comes back to its number",
         {Live("a"), Gone("b"), Live("c")},
         {"b", "a", "c"},
         15,
         {M::Returned, M::Kept, M::Kept},
         {1, 0, 2},
         {}},
        {"also while its stop is under way", {Gone("b", false)}, {"b"}, 15, {M::Returned}, {0}, {}},
        {"a new name takes the next number never used",
         {Live("a"), Gone("b")},
         {"a", "c"},
         15,
         {M::Kept, M::Added},
         {0, 2},
         {}},
        {"all used: the lowest empty number",
         {Live("a"), Gone("b", false), Gone("c"), Gone("d")},
         {"a", "e"},
         4,
         {M::Kept, M::Reused},
         {0, 2},
         {}},
        {"a returning name before a new one",
         {Live("a"), Gone("b"), Live("c")},
         {"a", "c", "d", "b"},
         3,
         {M::Kept, M::Kept, M::Refused, M::Returned},
         {0, 2, -1, 1},
         {}},
        {"nothing empty: refused",
         {Live("a"), Gone("b", false)},
         {"a", "c"},
         2,
         {M::Kept, M::Refused},
         {0, -1},
         {}},
        {"a number freed by this reload waits for the next",
         {Live("a"), Live("b")},
         {"a", "c"},
         2,
         {M::Kept, M::Refused},
         {0, -1},
         {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ReloadPlan plan = PlanReload(c.table, c.names, c.capacity);
        EXPECT_EQ(c.matches, plan.matches);
        EXPECT_EQ(c.numbers, plan.numbers);
        EXPECT_EQ(c.removed, plan.removed);
    }
}

} // namespace
