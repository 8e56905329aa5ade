#include "app/headless.h"

#include "console/console.h"
#include "loop/event_loop.h"
#include "loop/timers.h"
#include "loop/wait_table.h"
#include "port/service.h"
#include "supervisor/app_commands.h"
#include "supervisor/app_events.h"
#include "supervisor/stop.h"

namespace {

// The manager ends once no stop is under way any more.
void OnShutdownCheck(void*) {
    if (!AnyStopping()) {
        RunningFlag = false;
        return;
    }
    if (AddTimer(kStopCheckMs, OnShutdownCheck, nullptr) == 0)
        RunningFlag = false;
}

void OnShutdownRequest(WaitTable*, std::int32_t, void*) {
    port::TakeShutdownRequests();
    if (ShutdownUnderWay) {
        EndPendingStops(); // asked again: no more waiting
        return;
    }
    port::NotifyServiceManager("STOPPING=1");
    PrintMessage("Asked to end: stopping every application.");
    StopEverything();
    OnShutdownCheck(nullptr);
}

void OnChildEnded(WaitTable*, std::int32_t, void*) {
    port::ReapOrphans();
}

} // namespace

void BeginHeadless() {
    LogToStandardOutput();
    port::KeepNotifySocket();
    const port::Handle requests = port::WatchShutdownRequests();
    if (requests != port::kNullHandle)
        AddWaitHandle(requests, OnShutdownRequest, nullptr);
    const port::Handle children = port::BecomeOrphanReaper();
    if (children != port::kNullHandle)
        AddWaitHandle(children, OnChildEnded, nullptr);
}

void ReportReady() {
    port::NotifyServiceManager("READY=1");
}
