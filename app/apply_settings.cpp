#include "app/apply_settings.h"

#include "capture/output_capture.h"
#include "capture/output_directory.h"
#include "console/console.h"
#include "console/log_file.h"
#include "port/probe.h"
#include "port/system.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/app_table.h"
#include "supervisor/attach.h"
#include "supervisor/take_over.h"

#include <algorithm>

void ApplyLogFile(const GeneralSettings& general) {
    const std::string& path = general.logFile;
    LogFile& logFile = console.logFile;
    if (path == logFile.path)
        return;
    std::string unopened = logFile.unopened;
    CloseLogFile(logFile);
    if (!path.empty() && !OpenLogFile(logFile, path)) {
        // Said once per path, however many reloads try it again.
        if (path != unopened)
            PrintMessage("Could not open log file %s!", path.c_str());
        unopened = path;
    } else {
        unopened.clear();
    }
    logFile.unopened = unopened;
}

void ReportMalformedHeaders(const Settings& settings) {
    for (int line : settings.malformedHeaderLines)
        PrintMessage("Ignored malformed section header in line %d of zelkappmgr.ini.", line);
}

void ApplyCloseButton(const GeneralSettings& general) {
    if (general.disableCloseButton && !console.logToStandardOutput)
        port::RemoveCloseItem();
}

void PrepareOutputDirectory(Settings* settings) {
    const std::string& ignored = settings->general.ignoredOutputMaxBytes;
    if (!ignored.empty())
        PrintMessage("Ignored OutputMaxBytes = %s.", ignored.c_str());
    const std::string directory = settings->general.output.directory;
    std::string problem;
    if (directory.empty() || MakeOutputDirectory(directory, &problem))
        return;
    if (!problem.empty())
        PrintMessage("Could not use output directory %s: %s.", directory.c_str(), problem.c_str());
    else
        PrintMessage("Could not open output directory %s!", directory.c_str());
    settings->general.output.directory.clear();
    for (AppSettings& app : settings->apps)
        app.output.directory.clear();
}

void ReportIgnoredEntries(const Settings& settings) {
    for (const AppSettings& app : settings.apps) {
        for (const std::string& word : app.ignoredEnvironment)
            PrintMessage("Ignored environment entry %s of %s.", word.c_str(), app.name.c_str());
        if (!app.ignoredMaxMemory.empty())
            PrintMessage("Ignored memory limit %s of %s.", app.ignoredMaxMemory.c_str(),
                         app.name.c_str());
        if (!app.ignoredStopSignal.empty())
            PrintMessage("Ignored stop signal %s of %s.", app.ignoredStopSignal.c_str(),
                         app.name.c_str());
        if (!app.ignoredUser.empty())
            PrintMessage("Ignored user %s of %s.", app.ignoredUser.c_str(), app.name.c_str());
    }
}

bool OutputFileTaken(const AppSettings& settings) {
    const AppEntry* same = SharedOutputFile(settings);
    if (same == nullptr)
        return false;
    PrintMessage("Skipping %s: its output would go to %s, as that of %s.", settings.name.c_str(),
                 OutputFileName(settings.name).c_str(), same->settings.name.c_str());
    return true;
}

void ReportIgnoredReadiness(Settings* settings) {
    for (AppSettings& app : settings->apps) {
        ReadinessSettings& readiness = app.readiness;
        if (readiness.ready.kind == ReadyRule::Kind::Notify && !port::kNotifySocketSupported) {
            readiness.ignored.push_back("ready rule notify");
            readiness.ready = ReadyRule{};
        }
        for (const std::string& entry : readiness.ignored)
            PrintMessage("Ignored %s of %s.", entry.c_str(), app.name.c_str());
    }
}

void StartInOrder(const std::vector<AppEntry*>& ordered, AttachBatch& batch) {
    for (const auto& [name, why] : ResolveApplicationOrder())
        PrintMessage("Ignored start order of %s: %s.", name.c_str(), why.c_str());
    for (AppEntry* entry : StartSequence()) {
        if (std::find(ordered.begin(), ordered.end(), entry) == ordered.end())
            continue;
        TakeUnderSupervision(*entry, batch, true);
    }
    StartWaitingInOrder();
}

NewEntries BeginNewEntries(const std::vector<AppSettings>& apps) {
    NewEntries entries;
    entries.batch = BeginAttachBatch();
    entries.claimFirst = std::any_of(apps.begin(), apps.end(),
                                     [](const AppSettings& app) { return app.containProcesses; });
    return entries;
}

void AddNewEntry(NewEntries& entries, AppEntry& entry) {
    if (entries.claimFirst)
        entries.added.push_back(&entry);
    else if (entry.settings.readiness.after.empty())
        TakeUnderSupervision(entry, entries.batch);
    else
        entries.ordered.push_back(&entry);
}

void FinishNewEntries(NewEntries& entries) {
    ClaimContainedCopies(entries.added, entries.batch);
    for (AppEntry* entry : entries.added) {
        if (entry->settings.readiness.after.empty())
            TakeUnderSupervision(*entry, entries.batch);
        else
            entries.ordered.push_back(entry);
    }
    StartInOrder(entries.ordered, entries.batch);
}

void AddApplications(const std::vector<AppSettings>& apps) {
    NewEntries entries = BeginNewEntries(apps);
    for (const AppSettings& settings : apps) {
        if (!AppTableFull() && OutputFileTaken(settings))
            continue;
        if (AppEntry* entry = AppendApplication(settings, StartOutputCapture))
            AddNewEntry(entries, *entry);
    }
    FinishNewEntries(entries);
}
