#include "app/event_loop.h"

#include "port/system.h"
#include "supervisor/retry_starts.h"

WaitTable waitTable = {};
bool RunningFlag = true;

bool AddWaitHandle(port::Handle handle, WaitCallback callback, void* context) {
    if (waitTable.count >= kWaitTableSize)
        return false;
    waitTable.handles[waitTable.count] = handle;
    waitTable.callbacks[waitTable.count] = callback;
    waitTable.contexts[waitTable.count] = context;
    ++waitTable.count;
    return true;
}

void RemoveWaitHandle(port::Handle handle) {
    int row = 0;
    while (row < waitTable.count && waitTable.handles[row] != handle)
        ++row;
    if (row == waitTable.count)
        return;
    for (int j = row; j < waitTable.count - 1; ++j) {
        waitTable.handles[j] = waitTable.handles[j + 1];
        waitTable.callbacks[j] = waitTable.callbacks[j + 1];
        waitTable.contexts[j] = waitTable.contexts[j + 1];
    }
    --waitTable.count;
}

void RunEventLoop() {
    while (RunningFlag) {
        std::uint32_t count = static_cast<std::uint32_t>(waitTable.count);
        // Without a pending start attempt the wait has no time limit.
        std::uint32_t result = port::WaitAny(count, waitTable.handles, RetryWaitLimitMs());
        // The table is read again after the wait: a callback sees the row as
        // it stands now, and one row is served per pass, the lowest first.
        if (result < static_cast<std::uint32_t>(waitTable.count)) {
            std::int32_t row = static_cast<std::int32_t>(result);
            waitTable.callbacks[row](&waitTable, row, waitTable.contexts[row]);
        }
        // After the row: console input is never kept waiting by an attempt.
        if (RunningFlag)
            RunDueRetries();
        port::SleepMs(kEventLoopPauseMs);
    }
}

void QuitCommand(ArgReader*) {
    RunningFlag = false;
}
