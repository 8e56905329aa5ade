#include "app/reload.h"

#include "app/apply_settings.h"
#include "config/settings.h"
#include "console/console.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/app_table.h"

#include <string>
#include <vector>

void ReloadConfiguration() {
    Settings settings;
    if (!ReadSettings(kConfigFileName, &settings)) {
        PrintMessage("Could not open zelkappmgr.ini; configuration kept.");
        return;
    }
    ApplyLogFile(settings.general);
    ReportMalformedHeaders(settings);
    PrepareOutputDirectory(&settings);
    ApplyCloseButton(settings.general);
    ReportIgnoredEnvironment(settings);
    ReportIgnoredReadiness(&settings);

    int removed = 0;
    int changed = 0;
    int unchanged = 0;
    std::vector<bool> kept(static_cast<std::size_t>(appTable.count), false);
    std::vector<AppSettings> fresh;
    for (const AppSettings& wanted : settings.apps) {
        AppEntry* entry = FindApplication(wanted.name);
        if (entry == nullptr) {
            fresh.push_back(wanted);
            continue;
        }
        for (int i = 0; i < appTable.count; ++i)
            if (appTable.entries[i] == entry)
                kept[static_cast<std::size_t>(i)] = true;
        // The [General] keys and its stop limit apply from now on; the name
        // keeps the spelling it was shown with.
        const bool same = entry->settings.SameProgram(wanted);
        const std::string name = entry->settings.name;
        entry->settings = wanted;
        entry->settings.name = name;
        if (same) {
            ++unchanged;
            continue;
        }
        ++changed;
        PrintMessage("Configuration of %s changed.", name.c_str());
        DispatchInOrder(*entry, AppEvent::ReloadChanged);
    }
    for (int i = 0; i < static_cast<int>(kept.size()); ++i) {
        AppEntry& entry = *appTable.entries[i];
        if (kept[static_cast<std::size_t>(i)] || entry.state == AppState::Removed)
            continue;
        ++removed;
        Dispatch(entry, AppEvent::ReloadRemoved);
    }
    const int before = appTable.count;
    AddApplications(fresh);
    PrintMessage("Configuration reloaded: %d added, %d removed, %d changed, %d unchanged.",
                 appTable.count - before, removed, changed, unchanged);
}

void ReloadCommand(ArgReader*) {
    ReloadConfiguration();
}
