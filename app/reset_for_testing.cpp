#include "app/reset_for_testing.h"

#include "app/event_loop.h"
#include "console/console.h"
#include "supervisor/app_entry.h"

void ResetManagerForTesting() {
    for (int i = 0; i < appTable.count; ++i)
        delete appTable.entries[i];
    appTable = AppTable{};
    waitTable = WaitTable{};
    RunningFlag = true;
    console = Console();
}
