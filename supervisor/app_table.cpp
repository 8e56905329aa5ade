#include "supervisor/app_table.h"

#include "common/text.h"
#include "console/console.h"
#include "supervisor/app_events.h"
#include "supervisor/containment.h"
#include "supervisor/readiness.h"

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

namespace {

// The first place among the applications listed under exactly `name` that
// no entry but `self` (the one at that number) holds.
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

} // namespace

AppEntry* PlaceApplication(int number, AppSettings settings, OutputOpener openOutput) {
    const int place =
        FreePlace(settings.name, number < appTable.count ? appTable.entries[number] : nullptr);
    AppEntry* entry = new AppEntry(std::move(settings), openOutput);
    entry->place = place;
    if (number == appTable.count) {
        ++appTable.count;
    } else {
        // Nothing of a removed application is under way any more; what
        // still names it lets go before it is freed.
        AppEntry* removed = appTable.entries[number];
        ForgetNotifyingEntry(*removed);
        ReleaseContainer(*removed);
        delete removed;
    }
    appTable.entries[number] = entry;
    return entry;
}

bool ReturnApplication(AppEntry& entry, AppSettings settings) {
    // A name that comes back spelt otherwise ("Web" for "web") takes a place
    // among those of its new spelling, and with it a container of its own.
    if (settings.name != entry.settings.name) {
        ReleaseContainer(entry);
        entry.place = FreePlace(settings.name, &entry);
    }
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
