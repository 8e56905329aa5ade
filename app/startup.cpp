#include "app/startup.h"

#include "app/apply_settings.h"
#include "app/headless.h"
#include "app/reload.h"
#include "capture/tail.h"
#include "config/settings.h"
#include "console/command_table.h"
#include "console/console.h"
#include "console/line_editor.h"
#include "control/control_server.h"
#include "control/top_command.h"
#include "loop/event_loop.h"
#include "loop/wait_table.h"
#include "port/console.h"
#include "port/system.h"
#include "supervisor/app_commands.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/containment.h"
#include "supervisor/start_record.h"
#include "supervisor/supervision.h"

#include <cstdio>

namespace {

// The state change hook of a manager with a console: the start order goes on.
void FollowOrder(AppEntry& entry, AppState before, void*) {
    ContinueOrder(entry, before);
}

} // namespace

void QuitCommand(ArgReader*) {
    LeaveStopsToFinish();
    RunningFlag = false;
}

void RegisterCommands(bool extraCommands) {
    AddCommand("list", "Displays application list", ListCommand);
    AddCommand("start", "Starts application", StartCommand);
    AddCommand("stop", "Stops application", StopCommand);
    AddCommand("restart", "Restarts application", RestartCommand);
    AddCommand("startall", "Starts all applications", StartAllCommand);
    AddCommand("stopall", "Stops all applications", StopAllCommand);
    AddCommand("restartall", "Restarts all applications", RestartAllCommand);
    AddCommand("cls", "Clears console window", ClsCommand);
    AddCommand("quit", "Quits application", QuitCommand);
    if (extraCommands) {
        AddCommand("reload", "Reads the configuration again", ReloadCommand);
        AddCommand("tail", "Shows the last lines of an application's output", TailCommand);
        AddCommand("signal", "Sends a signal to an application", SignalCommand);
        AddCommand("top", "Shows what each application uses", TopCommand);
    }
}

int ManagerMain(bool headless) {
    if (headless) {
        LogToStandardOutput();
    } else {
        if (!port::ConsoleAvailable()) {
            std::fputs("zelkappmgr: standard input and output must be a console; not started.\n",
                       stderr);
            return 1;
        }
        SetUpConsole();
        if (ScreenWidth() < kMinScreenWidth || ScreenHeight() < kMinScreenHeight) {
            std::fprintf(stderr,
                         "zelkappmgr: the console needs at least %d columns and %d rows; "
                         "not started.\n",
                         kMinScreenWidth, kMinScreenHeight);
            return 1;
        }
    }

    if (!port::CreateInstanceGuard(kInstanceName)) {
        // A service manager must see a second headless copy fail, and why.
        if (port::LastError() == port::kErrorAlreadyExists && headless) {
            std::fputs("Another manager is already running for this user.\n", stderr);
            return 1;
        }
        if (port::LastError() == port::kErrorAlreadyExists)
            return 0;
        // Said after the terminal is given back, so that nothing erases it.
        const std::string why = port::LastErrorText();
        if (!headless)
            port::RestoreConsole();
        std::fprintf(stderr, "zelkappmgr: %s; not started.\n", why.c_str());
        return 1;
    }
    if (headless)
        BeginHeadless();

    Settings settings;
    if (!ReadSettings(kConfigFileName, &settings)) {
        PrintMessage("Could not open zelkappmgr.ini!");
        // A service manager must see that the service failed.
        return headless ? 1 : 0;
    }
    ApplyLogFile(settings.general);
    ReportMalformedHeaders(settings);
    if (!headless)
        port::SetWindowTitle(kWindowTitle);
    ApplyCloseButton(settings.general);
    PrepareOutputDirectory(&settings);
    if (!headless)
        AddWaitHandle(console.inputHandle, OnConsoleInput, nullptr);
    ReportIgnoredEntries(settings);
    ReportIgnoredReadiness(&settings);
    ReadyReport readyReport = ReadyReport::StartUp;
    if (headless)
        SetStateChangeHook(OnHeadlessStateChange, &readyReport);
    else
        SetStateChangeHook(FollowOrder);
    SetSettledHook(AnswerAwaitingClients);
    LoadStartRecord(supervision.record);
    AddApplications(settings.apps);
    OpenControlChannel(ReloadConfiguration);

    RegisterCommands(settings.general.extraCommands);
    if (headless)
        ReportReadyOnceSettled(readyReport);
    // Start-up ran far more code than the loop needs (the file, the walk for
    // running copies): those pages go back until something needs them.
    port::TrimMemory();
    if (RunningFlag)
        RunEventLoop();
    CloseControlChannel();
    WriteStartRecord(supervision.record);
    ReleaseContainment();
    SetStateChangeHook(nullptr);
    SetSettledHook(nullptr);
    return 0;
}
