// The application table: the supervised applications in configuration
// order, whose 0-based index is the number the operator uses.
#pragma once

#include "config/settings.h"
#include "supervisor/app_entry.h"
#include "supervisor/attach.h"
#include "supervisor/reload_plan.h"

#include <string_view>
#include <vector>

inline constexpr int kMaxApplications = 15;

struct AppTable {
    AppEntry* entries[kMaxApplications];
    std::int32_t count;
};

extern AppTable appTable;

// True when the table has no room for another application.
bool AppTableFull();

// A batch for applications created together, in which the processes the
// table's applications hold already count as taken (for AttachByCommandLine).
AttachBatch BeginAttachBatch();

// Appends an application without taking it under supervision yet (that
// waits until the start order is known). Null, after saying so, when the
// table is full.
AppEntry* AppendApplication(AppSettings settings, OutputOpener openOutput);

// Puts an application at `number`, not yet under supervision: the next
// number (appended), or the number of a removed application of which nothing
// is under way any more (its entry is let go).
AppEntry* PlaceApplication(int number, AppSettings settings, OutputOpener openOutput);

// The first place among the applications listed under exactly `name` that
// no entry but `self` holds.
int FreePlace(const std::string& name, const AppEntry* self);

// The table as a reload matches it with the configuration.
std::vector<TableSlot> TableSlots();

// The application with this display name (ignoring ASCII case) that is not
// removed; null when there is none.
AppEntry* FindApplication(std::string_view name);
