#include "app/headless.h"

#include "app/reload.h"
#include "console/console.h"
#include "loop/event_loop.h"
#include "loop/timers.h"
#include "loop/wait_table.h"
#include "port/service.h"
#include "supervisor/app_commands.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/stop.h"
#include "supervisor/supervision.h"

namespace {

// While the manager ends every application, it ends itself once no stop is
// under way any more: looked at when the request comes, and after every
// change of an application's state.
void EndOnceStopped() {
    if (supervision.shutdown && !AnyStopping())
        RunningFlag = false;
}

void OnShutdownRequest(WaitTable*, std::int32_t, void*) {
    port::TakeShutdownRequests();
    if (supervision.shutdown) {
        EndPendingStops(); // asked again: no more waiting
        return;
    }
    port::NotifyServiceManager("STOPPING=1");
    PrintMessage("Asked to end: stopping every application.");
    StopEverything();
    EndOnceStopped();
}

void OnChildEnded(WaitTable*, std::int32_t, void*) {
    port::ReapOrphans();
}

// SIGHUP: the configuration is read again, as --reload reads it.
void OnReloadRequest(WaitTable*, std::int32_t, void*) {
    port::TakeReloadRequests();
    ReloadConfiguration();
}

} // namespace

void BeginHeadless() {
    LogToStandardOutput();
    port::KeepNotifySocket();
    const port::Handle requests = port::WatchShutdownRequests();
    if (requests != port::kNullHandle)
        AddWaitHandle(requests, OnShutdownRequest, nullptr);
    const port::Handle reloads = port::WatchReloadRequests();
    if (reloads != port::kNullHandle)
        AddWaitHandle(reloads, OnReloadRequest, nullptr);
    const port::Handle children = port::BecomeOrphanReaper();
    if (children != port::kNullHandle)
        AddWaitHandle(children, OnChildEnded, nullptr);
}

void ReportReadyOnceSettled(ReadyReport& report) {
    // Once STOPPING=1 is said the service is on its way down: the stops that
    // settle start-up then must not make it look ready.
    if (supervision.shutdown)
        return;
    if (report == ReadyReport::Sent || !StartUpSettled()) {
        if (report == ReadyReport::StartUp)
            report = ReadyReport::Waiting;
        return;
    }
    report = ReadyReport::Sent;
    port::NotifyServiceManager("READY=1");
}

void OnHeadlessStateChange(AppEntry& entry, AppState before, void* context) {
    ContinueOrder(entry, before);
    EndOnceStopped();
    // During start-up the applications still to come are not in the table.
    ReadyReport& report = *static_cast<ReadyReport*>(context);
    if (report == ReadyReport::Waiting)
        ReportReadyOnceSettled(report);
}
