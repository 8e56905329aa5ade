#include "config/settings.h"

#include "common/shell_words.h"
#include "common/text.h"
#include "config/ini_file.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

// A whole number of seconds, 0 (off) for anything below 1, held at `most`.
// Leaves *seconds as it is when `section` has no `key`.
void ReadSeconds(const IniFile& ini, const char* section, const std::string& key,
                 std::uint32_t most, std::uint32_t* seconds) {
    std::string value;
    if (!ini.GetString(section, key, value))
        return;
    const int read = ParseLeadingInt(value.c_str());
    *seconds = read <= 0 ? 0 : std::min(static_cast<std::uint32_t>(read), most);
}

RestartPolicy ReadRestartPolicy(const IniFile& ini) {
    RestartPolicy policy;
    ini.GetBool("General", "ReportExits", policy.reportExits);
    ini.GetBool("General", "EndLeftovers", policy.endLeftovers);
    ReadSeconds(ini, "General", "RetryFailedStarts", kMaxRetrySeconds,
                &policy.retryFailedStartsSeconds);
    ReadSeconds(ini, "General", "RestartDelay", kMaxRestartDelaySeconds,
                &policy.restartDelaySeconds);
    ReadSeconds(ini, "General", "RestartDelayMax", kMaxRestartDelayMaxSeconds,
                &policy.restartDelayMaxSeconds);
    ReadSeconds(ini, "General", "MinUptime", kMaxRestartDelayMaxSeconds, &policy.minUptimeSeconds);
    ReadSeconds(ini, "General", "GiveUpAfter", 1000000, &policy.giveUpAfter);
    return policy;
}

OutputSettings ReadOutputSettings(const IniFile& ini) {
    OutputSettings output;
    ini.GetString("General", "OutputDirectory", output.directory);
    std::string value;
    if (ini.GetString("General", "OutputMaxBytes", value))
        output.maxBytes =
            std::max<std::uint64_t>(std::strtoull(value.c_str(), nullptr, 10), kMinOutputMaxBytes);
    ReadSeconds(ini, "General", "OutputBackups", 1000, &output.backups);
    ini.GetBool("General", "OutputTimestamps", output.timestamps);
    return output;
}

} // namespace

bool AppSettings::SameProgram(const AppSettings& other) const {
    return path == other.path && parameters == other.parameters && directory == other.directory &&
           environment == other.environment;
}

bool ReadSettings(const std::string& path, Settings* settings) {
    const IniFile ini(path);
    if (!ini.IsOpen())
        return false;
    Settings read;
    read.malformedHeaderLines = ini.MalformedHeaderLines();
    GeneralSettings& general = read.general;
    ini.GetBool("General", "DisableCloseButton", general.disableCloseButton);
    ini.GetBool("General", "ExtraCommands", general.extraCommands);
    ini.GetString("General", "LogFile", general.logFile);
    std::uint32_t stopTimeoutSeconds = 0;
    ReadSeconds(ini, "General", "StopTimeout", kMaxStopTimeoutSeconds, &stopTimeoutSeconds);
    const RestartPolicy restart = ReadRestartPolicy(ini);
    general.output = ReadOutputSettings(ini);
    bool attachByCommandLine = false;
    bool containProcesses = false;
    ini.GetBool("General", "AttachByCommandLine", attachByCommandLine);
    ini.GetBool("General", "ContainProcesses", containProcesses);

    for (const auto& section : ini.Sections()) {
        if (!AsciiEqualNoCase(std::string_view(section->name), "Applications"))
            continue;
        for (const auto& entry : section->entries) {
            AppSettings app;
            app.name = entry->key;
            app.path = entry->value;
            ini.GetString("Parameters", entry->key, app.parameters);
            ini.GetString("WorkingDirectory", entry->key, app.directory);
            std::string environment;
            ini.GetString("Environment", entry->key, environment);
            for (std::string& word : SplitShellWords(environment)) {
                const std::size_t equals = word.find('=');
                (equals == 0 || equals == std::string::npos ? app.ignoredEnvironment
                                                            : app.environment)
                    .push_back(std::move(word));
            }
            app.stopTimeoutSeconds = stopTimeoutSeconds;
            ReadSeconds(ini, "StopTimeout", entry->key, kMaxStopTimeoutSeconds,
                        &app.stopTimeoutSeconds);
            app.restart = restart;
            app.output = general.output;
            app.attachByCommandLine = attachByCommandLine;
            app.containProcesses = containProcesses;
            read.apps.push_back(std::move(app));
        }
    }
    *settings = std::move(read);
    return true;
}
