#include "supervisor/app_table.h"

#include "common/text.h"
#include "console/console.h"
#include "supervisor/app_events.h"

#include <utility>

AppTable appTable = {};

bool AppTableFull() {
    return appTable.count >= kMaxApplications;
}

AppEntry* AppendApplication(AppSettings settings, OutputOpener openOutput) {
    if (AppTableFull()) {
        PrintMessage("Too many applications, skipping %s.", settings.name.c_str());
        return nullptr;
    }
    AppEntry* entry = new AppEntry(std::move(settings), openOutput);
    appTable.entries[appTable.count++] = entry;
    return entry;
}

AppEntry* CreateApplication(AppSettings settings, AttachBatch& batch, OutputOpener openOutput) {
    AppEntry* entry = AppendApplication(std::move(settings), openOutput);
    if (entry != nullptr)
        TakeUnderSupervision(*entry, batch);
    return entry;
}

AppEntry* FindApplication(std::string_view name) {
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry* entry = appTable.entries[i];
        if (entry->state != AppState::Removed &&
            AsciiEqualNoCase(std::string_view(entry->settings.name), name))
            return entry;
    }
    return nullptr;
}
