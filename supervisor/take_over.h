// Taking new applications under supervision: each attaches to a running
// copy of its executable (what its own container holds first, then the
// process the start record names, then any copy its rule admits) or starts.
#pragma once

#include "supervisor/app_entry.h"
#include "supervisor/attach.h"

#include <vector>

// Appends an application and takes it under supervision: it attaches to a
// running copy (in `batch`'s reading of the process list) or starts. Null,
// after saying so, when the table is full.
AppEntry* CreateApplication(AppSettings settings, AttachBatch& batch, OutputOpener openOutput);

// New entries that hold processes in their own containers (from an earlier
// manager) attach to them first, so that those processes are theirs before
// any other entry looks for a copy of its executable.
void ClaimContainedCopies(const std::vector<AppEntry*>& entries, AttachBatch& batch);

// A new entry attaches to a running copy of its executable (in `batch`'s
// reading of the process list) or starts; nothing when it holds a process
// already. With `inOrder`, the start keeps the start order.
void TakeUnderSupervision(AppEntry& entry, AttachBatch& batch, bool inOrder = false);
