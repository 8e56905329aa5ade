// How a reload matches the applications of the file with the numbers of the
// table: a name keeps its number while it stays, takes its old number again
// when it comes back, and a new name takes the next number never used, or,
// once every number has been used, the lowest empty one. Among equal names
// (ignoring ASCII case) the order in the file decides, so a file read twice
// unchanged matches every application with itself.
#pragma once

#include <string>
#include <vector>

// One number of the table as a reload sees it.
struct TableSlot {
    std::string name;
    bool removed = false; // gone from the configuration at an earlier reload
    bool empty = false;   // removed, and nothing of it is under way: the number is free
};

enum class SlotMatch {
    Kept,     // the application at that number stays (changed or not)
    Returned, // a removed name comes back to its old number
    Added,    // a new name, at the next number never used
    Reused,   // a new name, at the lowest empty number
    Refused,  // no number is left
};

struct ReloadPlan {
    // For each application of the file, in file order: what it becomes, and
    // its number (-1 when refused).
    std::vector<SlotMatch> matches;
    std::vector<int> numbers;
    // The numbers of applications in the table that the file no longer names.
    std::vector<int> removed;
};

ReloadPlan PlanReload(const std::vector<TableSlot>& table, const std::vector<std::string>& names,
                      int capacity);
