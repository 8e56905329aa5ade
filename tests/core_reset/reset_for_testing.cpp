#include "reset_for_testing.h"

#include "app/headless.h"
#include "capture/capture_watch.h"
#include "console/console.h"
#include "console/log_file.h"
#include "control/control_server.h"
#include "loop/event_loop.h"
#include "loop/timers.h"
#include "loop/wait_table.h"
#include "supervisor/app_events.h"
#include "supervisor/app_table.h"
#include "supervisor/containment.h"
#include "supervisor/readiness.h"
#include "supervisor/start_record.h"

void ResetManagerForTesting() {
    // The fake system the handles came from has been reset already: they are
    // forgotten, not closed.
    for (int i = 0; i < appTable.count; ++i) {
        appTable.entries[i]->process.Release();
        appTable.entries[i]->container.Release();
        for (port::UniqueHandle& member : appTable.entries[i]->stop.watch.members)
            member.Release();
        delete appTable.entries[i];
    }
    appTable = AppTable{};
    for (ControlClient& client : controlServer.clients)
        client.connection.Release();
    controlServer = ControlServer{};
    captureTable = CaptureTable{};
    waitTable = WaitTable{};
    timerList = TimerList{};
    RunningFlag = true;
    console = Console();
    SetUpConsole();
    logFile = LogFile{};
    ShutdownUnderWay = false;
    SetStateChangeHook(nullptr);
    readyReport = ReadyReport::StartUp;
    notifySocket.socket.Release();
    notifySocket = NotifySocket{};
    ForgetContainers();
    ForgetStartRecord();
}
