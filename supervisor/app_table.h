// The application table: the supervised applications in configuration
// order, whose 0-based index is the number the operator uses.
#pragma once

#include "config/settings.h"
#include "supervisor/app_entry.h"
#include "supervisor/attach.h"

#include <string_view>

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

// Appends an application without taking it under supervision yet (that
// waits until the start order is known). Null, after saying so, when the
// table is full.
AppEntry* AppendApplication(AppSettings settings, OutputOpener openOutput);

// The application with this display name (ignoring ASCII case) that is not
// removed; null when there is none.
AppEntry* FindApplication(std::string_view name);
