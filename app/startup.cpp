#include "app/startup.h"

#include "app/control_server.h"
#include "app/headless.h"
#include "common/text.h"
#include "config/ini_file.h"
#include "console/command_table.h"
#include "console/console.h"
#include "console/line_editor.h"
#include "console/log_file.h"
#include "loop/event_loop.h"
#include "loop/wait_table.h"
#include "port/console.h"
#include "port/file.h"
#include "port/system.h"
#include "supervisor/app_commands.h"
#include "supervisor/app_entry.h"
#include "supervisor/capture.h"
#include "supervisor/exit_report.h"
#include "supervisor/retry_starts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

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

// An application already created whose output goes to the file that the
// output of `name` would go to; null when there is none (or no capture).
const AppEntry* SharedOutputFile(const std::string& name) {
    if (OutputDirectory.empty())
        return nullptr;
    const std::string file = OutputFileName(name);
    for (int i = 0; i < appTable.count; ++i)
        if (AsciiEqualNoCase(std::string_view(OutputFileName(appTable.entries[i]->name)), file))
            return appTable.entries[i];
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
    std::uint32_t backups = OutputBackups;
    if (ReadSeconds(ini, "General", "OutputBackups", 1000, &backups))
        OutputBackups = backups;
    ini.GetBool("General", "OutputTimestamps", OutputTimestampsFlag);
}

} // namespace

bool ExtraCommandsFlag = false;

void CreateApplications(const IniFile& ini) {
    BeginAttachBatch();
    for (const auto& section : ini.Sections()) {
        if (!AsciiEqualNoCase(std::string_view(section->name), "Applications"))
            continue;
        for (const auto& entry : section->entries) {
            if (appTable.count >= kMaxApplications) {
                PrintMessage("Too many applications, skipping %s.", entry->key.c_str());
                continue;
            }
            if (const AppEntry* same = SharedOutputFile(entry->key)) {
                PrintMessage("Skipping %s: its output would go to %s, as that of %s.",
                             entry->key.c_str(), OutputFileName(entry->key).c_str(),
                             same->name.c_str());
                continue;
            }
            std::string parameters;
            ini.GetString("Parameters", entry->key, parameters);
            AppEntry* app =
                new AppEntry(entry->key.c_str(), entry->value.c_str(), parameters.c_str());
            ReadSeconds(ini, "StopTimeout", entry->key, kMaxStopTimeoutSeconds,
                        &app->stopTimeoutSeconds);
            appTable.entries[appTable.count++] = app;
        }
    }
    EndAttachBatch();
}

void ReadOperatorOptions(const IniFile& ini) {
    std::string logPath;
    if (ini.GetString("General", "LogFile", logPath) && !logPath.empty() && !OpenLogFile(logPath))
        PrintMessage("Could not open log file %s!", logPath.c_str());
    ini.GetBool("General", "ReportExits", ReportExitsFlag);
    ini.GetBool("General", "EndLeftovers", EndLeftoversFlag);
    ReadSeconds(ini, "General", "RetryFailedStarts", kMaxRetrySeconds, &RetryFailedStartsSeconds);
    ReadSeconds(ini, "General", "StopTimeout", kMaxStopTimeoutSeconds, &DefaultStopTimeoutSeconds);
    ReadSeconds(ini, "General", "RestartDelay", kMaxRestartDelaySeconds, &RestartDelaySeconds);
    ReadSeconds(ini, "General", "RestartDelayMax", kMaxRestartDelayMaxSeconds,
                &RestartDelayMaxSeconds);
    ReadSeconds(ini, "General", "MinUptime", kMaxRestartDelayMaxSeconds, &MinUptimeSeconds);
    ReadSeconds(ini, "General", "GiveUpAfter", 1000000, &GiveUpAfterExits);
    ini.GetBool("General", "ExtraCommands", ExtraCommandsFlag);
    ReadOutputOptions(ini);
}

void QuitCommand(ArgReader*) {
    EndPendingStops();
    RunningFlag = false;
}

void RegisterCommands() {
    AddCommand("list", "Displays application list", ListCommand);
    AddCommand("start", "Starts application", StartCommand);
    AddCommand("stop", "Stops application", StopCommand);
    AddCommand("restart", "Restarts application", RestartCommand);
    AddCommand("startall", "Starts all applications", StartAllCommand);
    AddCommand("stopall", "Stops all applications", StopAllCommand);
    AddCommand("restartall", "Restarts all applications", RestartAllCommand);
    AddCommand("cls", "Clears console window", ClsCommand);
    AddCommand("quit", "Quits application", QuitCommand);
    if (ExtraCommandsFlag)
        AddCommand("tail", "Shows the last lines of an application's output", TailCommand);
}

int ManagerMain(bool headless) {
    if (headless) {
        LogToStandardOutput();
    } else {
        if (!port::ConsoleAvailable()) {
            std::fputs("zelkappmgr: standard input and output must be a console; not started.\n",
                       stderr);
            return 0;
        }
        SetUpConsole();
        if (ScreenWidth() < kMinScreenWidth || ScreenHeight() < kMinScreenHeight) {
            std::fprintf(stderr,
                         "zelkappmgr: the console needs at least %d columns and %d rows; "
                         "not started.\n",
                         kMinScreenWidth, kMinScreenHeight);
            return 0;
        }
    }

    switch (port::CreateInstanceGuard(kInstanceName)) {
    case port::GuardResult::AlreadyExists:
        return 0;
    case port::GuardResult::Refused:
        // Said after the terminal is given back, so that nothing erases it.
        if (!headless)
            port::RestoreConsole();
        std::fprintf(stderr, "zelkappmgr: %s; not started.\n", port::InstanceGuardProblem());
        return 1;
    case port::GuardResult::Created:
    case port::GuardResult::Failed:
        break;
    }
    if (headless)
        BeginHeadless();

    {
        auto ini = std::make_unique<IniFile>(kConfigFileName);
        if (!ini->IsOpen()) {
            PrintMessage("Could not open zelkappmgr.ini!");
            // A service manager must see that the service failed.
            return headless ? 1 : 0;
        }
        for (int line : ini->MalformedHeaderLines())
            PrintMessage("Ignored malformed section header in line %d of zelkappmgr.ini.", line);

        if (!headless) {
            bool disableCloseButton = true;
            ini->GetBool("General", "DisableCloseButton", disableCloseButton);
            port::SetWindowTitle(kWindowTitle);
            if (disableCloseButton)
                port::RemoveCloseItem();
        }
        ReadOperatorOptions(*ini);

        if (!headless)
            AddWaitHandle(console.inputHandle, OnConsoleInput, nullptr);
        CreateApplications(*ini);
    }
    OpenControlChannel();

    RegisterCommands();
    if (headless)
        ReportReady();
    if (RunningFlag)
        RunEventLoop();
    CloseControlChannel();
    return 0;
}
