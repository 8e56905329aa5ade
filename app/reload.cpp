#include "app/reload.h"

#include "app/apply_settings.h"
#include "capture/output_capture.h"
#include "common/text.h"
#include "config/settings.h"
#include "console/command_table.h"
#include "console/console.h"
#include "port/process.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/app_table.h"
#include "supervisor/reload_plan.h"

#include <string>
#include <string_view>
#include <vector>

namespace {

// A file that is not what the operator meant is refused whole: a header
// without its "]" makes the lines after it belong to no section, a section
// the program does not read is a typo that would silently drop its keys, a
// line outside any section (a stray byte before "[General]") drops the keys
// it hides, and a file that names no application (empty, half written) would
// stop every one.
bool Refused(const Settings& settings) {
    if (!settings.malformedHeaderLines.empty()) {
        PrintMessage("zelkappmgr.ini has a malformed section header in line %d; configuration "
                     "kept.",
                     settings.malformedHeaderLines.front());
        return true;
    }
    if (!settings.unknownSections.empty()) {
        PrintMessage("zelkappmgr.ini has an unknown section [%s] in line %d; configuration kept.",
                     settings.unknownSections.front().first.c_str(),
                     settings.unknownSections.front().second);
        return true;
    }
    if (!settings.strayLines.empty()) {
        PrintMessage("zelkappmgr.ini has a line outside any section in line %d; configuration "
                     "kept.",
                     settings.strayLines.front());
        return true;
    }
    if (settings.apps.empty()) {
        PrintMessage("zelkappmgr.ini names no applications; configuration kept.");
        return true;
    }
    return false;
}

std::vector<std::string> NamesOf(const std::vector<AppSettings>& apps) {
    std::vector<std::string> names;
    for (const AppSettings& app : apps)
        names.push_back(app.name);
    return names;
}

// An application the reload would start with a program that is not there
// (added, or changed to it): the running one must not be stopped for it.
bool NamesMissingProgram(const std::vector<AppSettings>& apps, const ReloadPlan& plan) {
    for (std::size_t i = 0; i < apps.size(); ++i) {
        const bool kept = plan.matches[i] == SlotMatch::Kept;
        if (plan.matches[i] == SlotMatch::Refused ||
            (kept && appTable.entries[plan.numbers[i]]->settings.SameProgram(apps[i])))
            continue;
        std::string canonical;
        if (!port::CanonicalPath(apps[i].path.c_str(), &canonical)) {
            PrintMessage("%s names %s, which does not exist; configuration kept.",
                         apps[i].name.c_str(), apps[i].path.c_str());
            return true;
        }
    }
    return false;
}

// The new applications whose output would go to the file of one that stays,
// or of a new one before them, are left out before any number is given, so
// that the numbers of those after them are the ones they get.
std::vector<AppSettings> WithoutOutputClashes(std::vector<AppSettings> apps,
                                              const ReloadPlan& plan) {
    std::vector<std::string> files; // the output files taken, and by whom
    std::vector<std::string> owners;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (plan.matches[i] != SlotMatch::Kept || apps[i].output.directory.empty())
            continue;
        const std::string& shown = appTable.entries[plan.numbers[i]]->settings.name;
        files.push_back(OutputFileName(shown));
        owners.push_back(shown);
    }
    std::vector<AppSettings> taken;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        AppSettings& app = apps[i];
        if (plan.matches[i] != SlotMatch::Kept && !app.output.directory.empty()) {
            const std::string file = OutputFileName(app.name);
            std::size_t same = 0;
            while (same < files.size() && !AsciiEqualNoCase(std::string_view(files[same]), file))
                ++same;
            if (same < files.size()) {
                PrintMessage("Skipping %s: its output would go to %s, as that of %s.",
                             app.name.c_str(), file.c_str(), owners[same].c_str());
                continue;
            }
            files.push_back(file);
            owners.push_back(app.name);
        }
        taken.push_back(std::move(app));
    }
    return taken;
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
    KeepWatchingMemory(entry);
    return changed;
}

// A removed application named again by the configuration: it has its number
// back with `settings`. True when it is to be taken under supervision now
// (attached or started); else it starts once a stop of it still under way
// has ended.
bool ReturnApplication(AppEntry& entry, AppSettings settings);

bool ReturnApplication(AppEntry& entry, AppSettings settings) {
    // A name that comes back spelt otherwise ("Web" for "web") takes a place
    // among those of its new spelling, and with it a container of its own.
    if (settings.name != entry.settings.name) {
        entry.container.Reset();
        entry.containerName.clear();
        entry.place = FreePlace(settings.name, &entry);
    }
    entry.settings = std::move(settings);
    entry.restartCount = RestartCount{};
    entry.retryDelay = DoublingDelay{};
    Dispatch(entry, AppEvent::ReloadReturned);
    return entry.state == AppState::Stopped;
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
    const ReloadPlan first = PlanReload(TableSlots(), NamesOf(settings.apps), kMaxApplications);
    if (NamesMissingProgram(settings.apps, first))
        return false;
    ApplyLogFile(settings.general);
    PrepareOutputDirectory(&settings);
    ApplyCloseButton(settings.general);
    ReportIgnoredEntries(settings);
    ReportIgnoredReadiness(&settings);

    const std::vector<AppSettings> apps = WithoutOutputClashes(settings.apps, first);
    const ReloadPlan plan = PlanReload(TableSlots(), NamesOf(apps), kMaxApplications);
    int added = 0;
    int changed = 0;
    int unchanged = 0;
    // What stays, in file order; then what went; then what came.
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (plan.matches[i] != SlotMatch::Kept)
            continue;
        AppEntry& entry = *appTable.entries[plan.numbers[i]];
        if (!Update(entry, apps[i])) {
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
    NewEntries entries = BeginNewEntries(apps);
    for (std::size_t i = 0; i < apps.size(); ++i) {
        const AppSettings& app = apps[i];
        const SlotMatch match = plan.matches[i];
        if (match == SlotMatch::Kept)
            continue;
        if (match == SlotMatch::Refused) {
            PrintMessage("Too many applications, skipping %s.", app.name.c_str());
            continue;
        }
        ++added;
        AppEntry* entry = appTable.entries[plan.numbers[i]];
        if (match != SlotMatch::Returned)
            entry = PlaceApplication(plan.numbers[i], app, StartOutputCapture);
        else if (!ReturnApplication(*entry, app))
            continue;
        AddNewEntry(entries, *entry);
    }
    FinishNewEntries(entries);
    PrintMessage("Configuration reloaded: %d added, %d removed, %d changed, %d unchanged.", added,
                 static_cast<int>(plan.removed.size()), changed, unchanged);
    return true;
}

void ReloadCommand(ArgReader*) {
    if (!ReloadConfiguration())
        FailCommand();
}
