#include "app/reload.h"

#include "app/apply_settings.h"
#include "capture/output_capture.h"
#include "config/settings.h"
#include "console/command_table.h"
#include "console/console.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/app_table.h"
#include "supervisor/reload_plan.h"

#include <string>
#include <vector>

namespace {

// A file that is not what the operator meant is refused whole: a header
// without its "]" makes the lines after it belong to no section, and a file
// that names no application (empty, half written) would stop every one.
bool Refused(const Settings& settings) {
    if (!settings.malformedHeaderLines.empty()) {
        PrintMessage("zelkappmgr.ini has a malformed section header in line %d; configuration "
                     "kept.",
                     settings.malformedHeaderLines.front());
        return true;
    }
    if (settings.apps.empty()) {
        PrintMessage("zelkappmgr.ini names no applications; configuration kept.");
        return true;
    }
    return false;
}

// Gives a kept application its settings from the file; true when its
// program changed (it is then started again with them). The [General] keys
// and its stop limit apply from now on; the name keeps the spelling it was
// shown with.
bool Update(AppEntry& entry, const AppSettings& wanted) {
    const bool changed = !entry.settings.SameProgram(wanted);
    const std::string name = entry.settings.name;
    entry.settings = wanted;
    entry.settings.name = name;
    KeepOutputApart(entry);
    return changed;
}

} // namespace

bool ReloadConfiguration() {
    Settings settings;
    if (!ReadSettings(kConfigFileName, &settings)) {
        PrintMessage("Could not open zelkappmgr.ini; configuration kept.");
        return false;
    }
    if (Refused(settings))
        return false;
    ApplyLogFile(settings.general);
    PrepareOutputDirectory(&settings);
    ApplyCloseButton(settings.general);
    ReportIgnoredEntries(settings);
    ReportIgnoredReadiness(&settings);

    std::vector<std::string> names;
    for (const AppSettings& app : settings.apps)
        names.push_back(app.name);
    const ReloadPlan plan = PlanReload(TableSlots(), names, kMaxApplications);
    int added = 0;
    int changed = 0;
    int unchanged = 0;
    // What stays, in file order; then what went; then what came.
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (plan.matches[i] != SlotMatch::Kept)
            continue;
        AppEntry& entry = *appTable.entries[plan.numbers[i]];
        if (!Update(entry, settings.apps[i])) {
            ++unchanged;
            continue;
        }
        ++changed;
        PrintMessage("Configuration of %s changed.", entry.settings.name.c_str());
        DispatchInOrder(entry, AppEvent::ReloadChanged);
    }
    for (int number : plan.removed)
        Dispatch(*appTable.entries[number], AppEvent::ReloadRemoved);
    // The new ones: each at its number, under supervision at once, or (with
    // an [After]) once the order is known again.
    AttachBatch batch = BeginAttachBatch();
    std::vector<AppEntry*> ordered;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const AppSettings& app = settings.apps[i];
        const SlotMatch match = plan.matches[i];
        if (match == SlotMatch::Kept)
            continue;
        if (match == SlotMatch::Refused) {
            PrintMessage("Too many applications, skipping %s.", app.name.c_str());
            continue;
        }
        if (OutputFileTaken(app))
            continue;
        ++added;
        AppEntry* entry = appTable.entries[plan.numbers[i]];
        if (match != SlotMatch::Returned)
            entry = PlaceApplication(plan.numbers[i], app, StartOutputCapture);
        else if (!ReturnApplication(*entry, app))
            continue;
        if (app.readiness.after.empty())
            TakeUnderSupervision(*entry, batch);
        else
            ordered.push_back(entry);
    }
    StartInOrder(ordered, batch);
    PrintMessage("Configuration reloaded: %d added, %d removed, %d changed, %d unchanged.", added,
                 static_cast<int>(plan.removed.size()), changed, unchanged);
    return true;
}

void ReloadCommand(ArgReader*) {
    if (!ReloadConfiguration())
        FailCommand();
}
