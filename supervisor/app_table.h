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

// Appends an application and takes it under supervision: it attaches to a
// running copy (in `batch`'s reading of the process list) or starts. Null,
// after saying so, when the table is full.
AppEntry* CreateApplication(AppSettings settings, AttachBatch& batch, OutputOpener openOutput);

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

// A removed application named again by the configuration: it has its number
// back with `settings`. True when it is to be taken under supervision now
// (attached or started); else it starts once a stop of it still under way
// has ended.
bool ReturnApplication(AppEntry& entry, AppSettings settings);

// The table as a reload matches it with the configuration.
std::vector<TableSlot> TableSlots();

// The application with this display name (ignoring ASCII case) that is not
// removed; null when there is none.
AppEntry* FindApplication(std::string_view name);
