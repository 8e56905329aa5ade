#include "app/startup.h"

#include "app/control_server.h"
#include "app/headless.h"
#include "app/reload.h"
#include "app/settings.h"
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
    if (ExtraCommandsFlag) {
        AddCommand("reload", "Reads the configuration again", ReloadCommand);
        AddCommand("tail", "Shows the last lines of an application's output", TailCommand);
    }
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
        ReadLogFileOption(*ini);
        ReportMalformedHeaders(*ini);
        if (!headless)
            port::SetWindowTitle(kWindowTitle);
        ApplyCloseButtonOption(*ini);
        ReadOperatorOptions(*ini);
        ini->GetBool("General", "ExtraCommands", ExtraCommandsFlag);

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
