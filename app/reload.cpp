#include "app/reload.h"

#include "app/settings.h"
#include "common/text.h"
#include "config/ini_file.h"
#include "console/console.h"
#include "supervisor/app_commands.h"
#include "supervisor/app_entry.h"

#include <string_view>
#include <vector>

namespace {

bool SameSettings(const AppEntry& entry, const AppSettings& settings) {
    return entry.path == settings.path && entry.parameters == settings.parameters &&
           entry.place == settings.place;
}

} // namespace

void ReloadConfiguration() {
    IniFile ini(kConfigFileName);
    if (!ini.IsOpen()) {
        PrintMessage("Could not open zelkappmgr.ini; configuration kept.");
        return;
    }
    ReadLogFileOption(ini);
    ReportMalformedHeaders(ini);
    ResetOperatorOptions();
    ReadOperatorOptions(ini);
    ApplyCloseButtonOption(ini);
    const std::vector<AppSettings> wanted = ReadApplications(ini);

    int added = 0;
    int removed = 0;
    int changed = 0;
    int unchanged = 0;
    std::vector<bool> kept(static_cast<std::size_t>(appTable.count), false);
    std::vector<const AppSettings*> fresh;
    for (const AppSettings& settings : wanted) {
        AppEntry* entry = FindApplication(settings.name);
        if (entry == nullptr) {
            fresh.push_back(&settings);
            continue;
        }
        for (int i = 0; i < appTable.count; ++i)
            if (appTable.entries[i] == entry)
                kept[static_cast<std::size_t>(i)] = true;
        entry->stopTimeoutSeconds = settings.stopTimeoutSeconds;
        if (SameSettings(*entry, settings)) {
            ++unchanged;
            continue;
        }
        ++changed;
        PrintMessage("Configuration of %s changed.", entry->name.c_str());
        entry->path = settings.path;
        entry->parameters = settings.parameters;
        entry->place = settings.place;
        // One that runs (or would soon) runs with the new settings; one the
        // operator stopped stays stopped.
        if (entry->process || entry->IsWaiting())
            RestartApplication(*entry);
    }
    for (int i = 0; i < static_cast<int>(kept.size()); ++i) {
        AppEntry& entry = *appTable.entries[i];
        if (kept[static_cast<std::size_t>(i)] || entry.removed)
            continue;
        ++removed;
        RemoveApplication(entry);
    }
    BeginAttachBatch();
    for (const AppSettings* settings : fresh) {
        const int before = appTable.count;
        CreateApplication(*settings);
        added += appTable.count - before;
    }
    EndAttachBatch();
    PrintMessage("Configuration reloaded: %d added, %d removed, %d changed, %d unchanged.", added,
                 removed, changed, unchanged);
}

void ReloadCommand(ArgReader*) {
    ReloadConfiguration();
}
