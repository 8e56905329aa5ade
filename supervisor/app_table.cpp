#include "supervisor/app_table.h"

#include "common/text.h"
#include "console/console.h"
#include "supervisor/app_events.h"

#include <utility>

AppTable appTable = {};

bool AppTableFull() {
    return appTable.count >= kMaxApplications;
}

AppEntry* CreateApplication(AppSettings settings, AttachBatch& batch, OutputOpener openOutput) {
    if (AppTableFull()) {
        PrintMessage("Too many applications, skipping %s.", settings.name.c_str());
        return nullptr;
    }
    // What the applications hold already is taken (with AttachByCommandLine).
    batch.taken.clear();
    for (int i = 0; i < appTable.count; ++i)
        if (appTable.entries[i]->process)
            batch.taken.push_back(port::ProcessIdOf(appTable.entries[i]->process.Get()));
    AppEntry* entry = new AppEntry(std::move(settings), openOutput);
    appTable.entries[appTable.count++] = entry;
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
