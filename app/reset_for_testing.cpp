#include "app/reset_for_testing.h"

#include "app/event_loop.h"
#include "console/console.h"
#include "console/log_file.h"
#include "supervisor/app_entry.h"
#include "supervisor/exit_report.h"
#include "supervisor/retry_starts.h"

void ResetManagerForTesting() {
    for (int i = 0; i < appTable.count; ++i)
        delete appTable.entries[i];
    appTable = AppTable{};
    waitTable = WaitTable{};
    RunningFlag = true;
    console = Console();
    SetUpConsole();
    logFile = LogFile{};
    ReportExitsFlag = false;
    RetryFailedStartsSeconds = 0;
}
