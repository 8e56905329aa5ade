#include "loop/event_loop.h"

#include "loop/timers.h"
#include "loop/wait_table.h"
#include "port/system.h"

bool RunningFlag = true;

void RunEventLoop() {
    while (RunningFlag) {
        const std::uint32_t count = static_cast<std::uint32_t>(waitTable.count);
        bool ready[kWaitTableSize] = {};
        const std::uint32_t result =
            port::WaitAny(count, waitTable.handles, TimerWaitLimitMs(), ready);
        if (result < count) {
            // Callbacks change the table: the rows found ready are named by
            // their serial numbers and looked up again before each call.
            std::uint64_t serials[kWaitTableSize];
            std::uint32_t readyCount = 0;
            for (std::uint32_t row = 0; row < count; ++row)
                if (ready[row])
                    serials[readyCount++] = waitTable.serials[row];
            for (std::uint32_t i = 0; i < readyCount; ++i) {
                const std::int32_t row = FindWaitRow(serials[i]);
                if (row >= 0)
                    waitTable.callbacks[row](&waitTable, row, waitTable.contexts[row]);
                if (!RunningFlag)
                    break; // "quit": no callback after it
            }
        }
        // After the rows: console input is never kept waiting by a timer.
        if (RunningFlag)
            RunDueTimers();
        port::SleepMs(kEventLoopPauseMs);
    }
}
