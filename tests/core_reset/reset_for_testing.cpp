#include "reset_for_testing.h"

#include "capture/capture_watch.h"
#include "console/console.h"
#include "control/control_server.h"
#include "loop/event_loop.h"
#include "loop/timers.h"
#include "loop/wait_table.h"
#include "supervisor/app_table.h"
#include "supervisor/supervision.h"

void ResetManagerForTesting() {
    // The fake system the handles came from has been reset already: they are
    // forgotten, not closed.
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry& entry = *appTable.entries[i];
        entry.process.Release();
        entry.container.Release();
        for (port::UniqueHandle& member : entry.stop.watch.members)
            member.Release();
        delete &entry;
    }
    appTable = AppTable{};
    for (ControlClient& client : controlServer.clients)
        client.connection.Release();
    controlServer = ControlServer{};
    captureTable = CaptureTable{};
    supervision.notify.socket.Release();
    supervision = Supervision{};
    waitTable = WaitTable{};
    timerList = TimerList{};
    RunningFlag = true;
    console = Console();
    SetUpConsole();
}
