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
    return PlaceApplication(appTable.count, std::move(settings), openOutput);
}

AppEntry* CreateApplication(AppSettings settings, AttachBatch& batch, OutputOpener openOutput) {
    AppEntry* entry = AppendApplication(std::move(settings), openOutput);
    if (entry != nullptr)
        TakeUnderSupervision(*entry, batch);
    return entry;
}

AttachBatch BeginAttachBatch() {
    AttachBatch batch;
    for (int i = 0; i < appTable.count; ++i)
        if (appTable.entries[i]->process)
            batch.taken.push_back(port::ProcessIdOf(appTable.entries[i]->process.Get()));
    return batch;
}

AppEntry* PlaceApplication(int number, AppSettings settings, OutputOpener openOutput) {
    AppEntry* entry = new AppEntry(std::move(settings), openOutput);
    if (number == appTable.count)
        ++appTable.count;
    else
        delete appTable.entries[number];
    appTable.entries[number] = entry;
    return entry;
}

bool ReturnApplication(AppEntry& entry, AppSettings settings) {
    entry.settings = std::move(settings);
    entry.restartCount = RestartCount{};
    entry.retryDelay = DoublingDelay{};
    Dispatch(entry, AppEvent::ReloadReturned);
    return entry.state == AppState::Stopped;
}

std::vector<TableSlot> TableSlots() {
    std::vector<TableSlot> slots;
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        const bool removed = entry.state == AppState::Removed;
        slots.push_back(TableSlot{entry.settings.name, removed, removed && !entry.stop.active});
    }
    return slots;
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
