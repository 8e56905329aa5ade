#include "supervisor/app_table.h"

#include "common/text.h"
#include "console/console.h"
#include "supervisor/supervision.h"

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

AttachBatch BeginAttachBatch() {
    AttachBatch batch;
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        if (!entry.process)
            continue;
        batch.taken.push_back(port::ProcessIdOf(entry.process.Get()));
        if (entry.contained || !IsUp(entry))
            batch.reserved.push_back(batch.taken.back());
    }
    return batch;
}

int FreePlace(const std::string& name, const AppEntry* self) {
    for (int place = 0;; ++place) {
        bool used = false;
        for (int i = 0; i < appTable.count && !used; ++i)
            used = appTable.entries[i] != self && appTable.entries[i]->settings.name == name &&
                   appTable.entries[i]->place == place;
        if (!used)
            return place;
    }
}

AppEntry* PlaceApplication(int number, AppSettings settings, OutputOpener openOutput) {
    const int place =
        FreePlace(settings.name, number < appTable.count ? appTable.entries[number] : nullptr);
    AppEntry* entry = new AppEntry(std::move(settings), openOutput);
    entry->place = place;
    entry->serial = ++supervision.lastSerial;
    // Nothing of a removed application is under way any more, and what it
    // registered ends with it.
    if (number == appTable.count)
        ++appTable.count;
    else
        delete appTable.entries[number];
    appTable.entries[number] = entry;
    return entry;
}

std::vector<TableSlot> TableSlots() {
    std::vector<TableSlot> slots;
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        const bool removed = IsRemoved(entry.state);
        slots.push_back(TableSlot{entry.settings.name, removed, entry.state == AppState::Removed});
    }
    return slots;
}

AppEntry* FindApplication(std::string_view name) {
    AppEntry* caseTwin = nullptr;
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry* entry = appTable.entries[i];
        if (IsRemoved(entry->state))
            continue;
        if (entry->settings.name == name)
            return entry;
        if (caseTwin == nullptr && AsciiEqualNoCase(std::string_view(entry->settings.name), name))
            caseTwin = entry;
    }
    return caseTwin;
}
