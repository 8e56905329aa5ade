#include "loop/wait_table.h"

WaitTable waitTable = {};

bool AddWaitHandle(port::Handle handle, WaitCallback callback, void* context) {
    if (waitTable.count >= kWaitTableSize)
        return false;
    const std::int32_t row = waitTable.count;
    waitTable.handles[row] = handle;
    waitTable.callbacks[row] = callback;
    waitTable.contexts[row] = context;
    waitTable.serials[row] = ++waitTable.lastSerial;
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
        waitTable.serials[j] = waitTable.serials[j + 1];
    }
    --waitTable.count;
}

std::int32_t FindWaitRow(std::uint64_t serial) {
    for (std::int32_t row = 0; row < waitTable.count; ++row)
        if (waitTable.serials[row] == serial)
            return row;
    return -1;
}
