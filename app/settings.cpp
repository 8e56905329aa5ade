#include "app/settings.h"

#include "common/shell_words.h"
#include "common/text.h"
#include "config/ini_file.h"
#include "console/console.h"
#include "console/log_file.h"
#include "port/file.h"
#include "port/system.h"
#include "supervisor/capture.h"
#include "supervisor/exit_report.h"
#include "supervisor/restart_delay.h"
#include "supervisor/retry_starts.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

bool ExtraCommandsFlag = false;

namespace {

// A whole number of seconds, 0 (off) for anything below 1, held at `most`.
// False, changing nothing, when `section` has no `key`.
bool ReadSeconds(const IniFile& ini, const char* section, const std::string& key,
                 std::uint32_t most, std::uint32_t* seconds) {
    std::string value;
    if (!ini.GetString(section, key, value))
        return false;
    const int read = ParseLeadingInt(value.c_str());
    *seconds = read <= 0 ? 0 : std::min(static_cast<std::uint32_t>(read), most);
    return true;
}

// An application in the table (and not removed) whose output goes to the
// file that the output of `name` would go to; null when there is none (or
// no capture).
const AppEntry* SharedOutputFile(const std::string& name) {
    if (OutputDirectory.empty())
        return nullptr;
    const std::string file = OutputFileName(name);
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry* other = appTable.entries[i];
        if (!other->removed &&
            AsciiEqualNoCase(std::string_view(OutputFileName(other->name)), file))
            return other;
    }
    return nullptr;
}

// The output directory and its keys; without a directory that can be used,
// nothing is captured.
void ReadOutputOptions(const IniFile& ini) {
    std::string directory;
    if (!ini.GetString("General", "OutputDirectory", directory) || directory.empty())
        return;
    if (!port::MakeDirectory(directory.c_str())) {
        PrintMessage("Could not open output directory %s!", directory.c_str());
        return;
    }
    OutputDirectory = directory;
    std::string value;
    if (ini.GetString("General", "OutputMaxBytes", value))
        OutputMaxBytes =
            std::max<std::uint64_t>(std::strtoull(value.c_str(), nullptr, 10), kMinOutputMaxBytes);
    ReadSeconds(ini, "General", "OutputBackups", 1000, &OutputBackups);
    ini.GetBool("General", "OutputTimestamps", OutputTimestampsFlag);
}

} // namespace

void ReportMalformedHeaders(const IniFile& ini) {
    for (int line : ini.MalformedHeaderLines())
        PrintMessage("Ignored malformed section header in line %d of zelkappmgr.ini.", line);
}

void ApplyCloseButtonOption(const IniFile& ini) {
    bool disableCloseButton = true;
    ini.GetBool("General", "DisableCloseButton", disableCloseButton);
    if (disableCloseButton && !console.logToStandardOutput)
        port::RemoveCloseItem();
}

void ResetOperatorOptions() {
    ReportExitsFlag = false;
    EndLeftoversFlag = false;
    RetryFailedStartsSeconds = 0;
    DefaultStopTimeoutSeconds = 0;
    RestartDelaySeconds = RestartDelayMaxSeconds = GiveUpAfterExits = 0;
    MinUptimeSeconds = kDefaultMinUptimeSeconds;
    OutputDirectory.clear();
    OutputMaxBytes = kDefaultOutputMaxBytes;
    OutputBackups = kDefaultOutputBackups;
    OutputTimestampsFlag = false;
}

void ReadLogFileOption(const IniFile& ini) {
    std::string logPath;
    ini.GetString("General", "LogFile", logPath);
    if (logPath == logFile.path)
        return;
    CloseLogFile();
    if (!logPath.empty() && !OpenLogFile(logPath))
        PrintMessage("Could not open log file %s!", logPath.c_str());
}

void ReadOperatorOptions(const IniFile& ini) {
    ini.GetBool("General", "ReportExits", ReportExitsFlag);
    ini.GetBool("General", "EndLeftovers", EndLeftoversFlag);
    ReadSeconds(ini, "General", "RetryFailedStarts", kMaxRetrySeconds, &RetryFailedStartsSeconds);
    ReadSeconds(ini, "General", "StopTimeout", kMaxStopTimeoutSeconds, &DefaultStopTimeoutSeconds);
    ReadSeconds(ini, "General", "RestartDelay", kMaxRestartDelaySeconds, &RestartDelaySeconds);
    ReadSeconds(ini, "General", "RestartDelayMax", kMaxRestartDelayMaxSeconds,
                &RestartDelayMaxSeconds);
    ReadSeconds(ini, "General", "MinUptime", kMaxRestartDelayMaxSeconds, &MinUptimeSeconds);
    ReadSeconds(ini, "General", "GiveUpAfter", 1000000, &GiveUpAfterExits);
    ReadOutputOptions(ini);
}

std::vector<AppSettings> ReadApplications(const IniFile& ini) {
    std::vector<AppSettings> apps;
    for (const auto& section : ini.Sections()) {
        if (!AsciiEqualNoCase(std::string_view(section->name), "Applications"))
            continue;
        for (const auto& entry : section->entries) {
            AppSettings app;
            app.name = entry->key;
            app.path = entry->value;
            ini.GetString("Parameters", entry->key, app.parameters);
            ini.GetString("WorkingDirectory", entry->key, app.place.directory);
            std::string environment;
            ini.GetString("Environment", entry->key, environment);
            for (std::string& word : SplitShellWords(environment)) {
                if (word.find('=') == 0 || word.find('=') == std::string::npos)
                    PrintMessage("Ignored environment entry %s of %s.", word.c_str(),
                                 app.name.c_str());
                else
                    app.place.environment.push_back(std::move(word));
            }
            app.stopTimeoutSeconds = DefaultStopTimeoutSeconds;
            ReadSeconds(ini, "StopTimeout", entry->key, kMaxStopTimeoutSeconds,
                        &app.stopTimeoutSeconds);
            apps.push_back(std::move(app));
        }
    }
    return apps;
}

void CreateApplication(const AppSettings& settings) {
    if (appTable.count >= kMaxApplications) {
        PrintMessage("Too many applications, skipping %s.", settings.name.c_str());
        return;
    }
    if (const AppEntry* same = SharedOutputFile(settings.name)) {
        PrintMessage("Skipping %s: its output would go to %s, as that of %s.",
                     settings.name.c_str(), OutputFileName(settings.name).c_str(),
                     same->name.c_str());
        return;
    }
    AppEntry* app = new AppEntry(settings.name.c_str(), settings.path.c_str(),
                                 settings.parameters.c_str(), settings.place);
    app->stopTimeoutSeconds = settings.stopTimeoutSeconds;
    appTable.entries[appTable.count++] = app;
}

void CreateApplications(const IniFile& ini) {
    BeginAttachBatch();
    for (const AppSettings& settings : ReadApplications(ini))
        CreateApplication(settings);
    EndAttachBatch();
}
