#include "app/apply_settings.h"

#include "capture/output_capture.h"
#include "console/console.h"
#include "console/log_file.h"
#include "port/file.h"
#include "port/probe.h"
#include "port/system.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/app_table.h"
#include "supervisor/attach.h"

#include <algorithm>

void ApplyLogFile(const GeneralSettings& general) {
    if (general.logFile == logFile.path)
        return;
    CloseLogFile();
    if (!general.logFile.empty() && !OpenLogFile(general.logFile))
        PrintMessage("Could not open log file %s!", general.logFile.c_str());
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
    const std::string directory = settings->general.output.directory;
    if (directory.empty() || port::MakeDirectory(directory.c_str()))
        return;
    PrintMessage("Could not open output directory %s!", directory.c_str());
    settings->general.output.directory.clear();
    for (AppSettings& app : settings->apps)
        app.output.directory.clear();
}

void ReportIgnoredEnvironment(const Settings& settings) {
    for (const AppSettings& app : settings.apps)
        for (const std::string& word : app.ignoredEnvironment)
            PrintMessage("Ignored environment entry %s of %s.", word.c_str(), app.name.c_str());
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

// Those with an [After] are taken under supervision once the order is
// known, in that order: each waits until what it starts after is ready.
void AddApplications(const std::vector<AppSettings>& apps) {
    AttachBatch batch;
    std::vector<AppEntry*> ordered;
    for (const AppSettings& settings : apps) {
        const AppEntry* same = AppTableFull() ? nullptr : SharedOutputFile(settings);
        if (same != nullptr)
            PrintMessage("Skipping %s: its output would go to %s, as that of %s.",
                         settings.name.c_str(), OutputFileName(settings.name).c_str(),
                         same->settings.name.c_str());
        else if (settings.readiness.after.empty())
            CreateApplication(settings, batch, StartOutputCapture);
        else if (AppEntry* entry = AppendApplication(settings, StartOutputCapture))
            ordered.push_back(entry);
    }
    for (const auto& [name, why] : ResolveApplicationOrder())
        PrintMessage("Ignored start order of %s: %s.", name.c_str(), why.c_str());
    for (AppEntry* entry : StartSequence()) {
        if (std::find(ordered.begin(), ordered.end(), entry) == ordered.end())
            continue;
        entry->orderedStart = true;
        TakeUnderSupervision(*entry, batch);
    }
    StartWaitingInOrder();
}
