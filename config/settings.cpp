#include "config/settings.h"

#include "common/shell_words.h"
#include "common/text.h"
#include "config/ini_file.h"
#include "port/process.h"
#include "port/user.h"

#include <algorithm>
#include <string_view>

namespace {

// Every section the program reads.
constexpr const char* kSections[] = {
    "General",        "Applications", "Parameters",   "WorkingDirectory",
    "Environment",    "StopTimeout",  "StopSignal",   "User",
    "After",          "Ready",        "ReadyTimeout", "Health",
    "HealthFailures", "MaxMemory"};

bool KnownSection(std::string_view name) {
    for (const char* known : kSections)
        if (AsciiEqualNoCase(name, known))
            return true;
    return false;
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

// OutputMaxBytes: held at kMinOutputMaxBytes at least; a value that is no
// size keeps the default and is recorded in *ignored.
OutputSettings ReadOutputSettings(const IniFile& ini, std::string* ignored) {
    OutputSettings output;
    ini.GetString("General", "OutputDirectory", output.directory);
    std::string value;
    std::uint64_t bytes = 0;
    if (ini.GetString("General", "OutputMaxBytes", value)) {
        if (ParseByteSize(value, &bytes))
            output.maxBytes = std::max(bytes, kMinOutputMaxBytes);
        else
            *ignored = value;
    }
    ReadSeconds(ini, "General", "OutputBackups", 1000, &output.backups);
    ini.GetBool("General", "OutputTimestamps", output.timestamps);
    return output;
}

// [StopSignal] of an application: a signal a polite stop may send, and
// "main" for its own process alone. A value that cannot be used (where the
// system has no signals, every one) is kept aside to be reported.
void ReadStopSignal(const IniFile& ini, const std::string& name, AppSettings* app) {
    std::string value;
    if (!ini.GetString("StopSignal", name, value) || value.empty())
        return;
    const std::vector<std::string> words = SplitShellWords(value);
    int number = 0;
    const bool main = words.size() == 2 && AsciiEqualNoCase(std::string_view(words[1]), "main");
    const bool named = !words.empty() && (words.size() == 1 || main) &&
                       port::SignalNumber(words[0].c_str(), &number);
    int kill = 0;
    int stop = 0;
    int resume = 0;
    port::SignalNumber("KILL", &kill);
    port::SignalNumber("STOP", &stop);
    port::SignalNumber("CONT", &resume);
    if (!named || number == kill || number == stop || number == resume) {
        app->ignoredStopSignal = value;
        return;
    }
    app->stopSignal = number;
    app->stopMainOnly = main;
}

// Adds NAME=VALUE to the environment; a later NAME replaces an earlier one.
void AddVariable(std::vector<std::string>* environment, std::string variable) {
    const std::string name = variable.substr(0, variable.find('=') + 1);
    for (std::string& earlier : *environment) {
        if (earlier.compare(0, name.size(), name) == 0) {
            earlier = std::move(variable);
            return;
        }
    }
    environment->push_back(std::move(variable));
}

} // namespace

bool ParseByteSize(std::string_view text, std::uint64_t* bytes) {
    text = TrimBlanks(text);
    int shift = 0;
    if (!text.empty()) {
        switch (AsciiLower(text.back())) {
        case 'k':
            shift = 10;
            break;
        case 'm':
            shift = 20;
            break;
        case 'g':
            shift = 30;
            break;
        default:
            break;
        }
    }
    if (shift != 0)
        text = TrimBlanks(text.substr(0, text.size() - 1));
    std::uint64_t value = 0;
    if (!ParseWholeNumber(text, kMaxOutputMaxBytes >> shift, &value))
        return false;
    *bytes = value << shift;
    return true;
}

bool AppSettings::SameProgram(const AppSettings& other) const {
    return path == other.path && parameters == other.parameters && directory == other.directory &&
           environment == other.environment && user == other.user;
}

bool ReadSettings(const std::string& path, Settings* settings) {
    const IniFile ini(path);
    if (!ini.IsOpen())
        return false;
    Settings read;
    read.malformedHeaderLines = ini.MalformedHeaderLines();
    read.strayLines = ini.StrayLines();
    for (const auto& section : ini.Sections())
        if (!KnownSection(section->name))
            read.unknownSections.emplace_back(section->name, section->line);
    GeneralSettings& general = read.general;
    ini.GetBool("General", "DisableCloseButton", general.disableCloseButton);
    ini.GetBool("General", "ExtraCommands", general.extraCommands);
    ini.GetString("General", "LogFile", general.logFile);
    std::uint32_t stopTimeoutSeconds = 0;
    ReadSeconds(ini, "General", "StopTimeout", kMaxStopTimeoutSeconds, &stopTimeoutSeconds);
    const RestartPolicy restart = ReadRestartPolicy(ini);
    general.output = ReadOutputSettings(ini, &general.ignoredOutputMaxBytes);
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
                if (equals == 0 || equals == std::string::npos)
                    app.ignoredEnvironment.push_back(std::move(word));
                else
                    AddVariable(&app.environment, std::move(word));
            }
            app.stopTimeoutSeconds = stopTimeoutSeconds;
            ReadSeconds(ini, "StopTimeout", entry->key, kMaxStopTimeoutSeconds,
                        &app.stopTimeoutSeconds);
            ReadStopSignal(ini, entry->key, &app);
            ini.GetString("User", entry->key, app.user);
            if (!port::kStartsAsOtherUsers)
                app.ignoredUser.swap(app.user);
            app.restart = restart;
            app.output = general.output;
            app.readiness = ReadReadiness(ini, entry->key);
            std::string maxMemory;
            if (ini.GetString("MaxMemory", entry->key, maxMemory) &&
                (!ParseByteSize(maxMemory, &app.maxMemoryBytes) || app.maxMemoryBytes == 0)) {
                app.maxMemoryBytes = 0;
                app.ignoredMaxMemory = maxMemory;
            }
            app.attachByCommandLine = attachByCommandLine;
            app.containProcesses = containProcesses;
            read.apps.push_back(std::move(app));
        }
    }
    *settings = std::move(read);
    return true;
}
