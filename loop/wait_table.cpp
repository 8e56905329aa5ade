#include "loop/wait_table.h"

WaitTable waitTable = {};

namespace {

void RemoveRow(std::int32_t row) {
    for (std::int32_t j = row; j < waitTable.count - 1; ++j) {
        waitTable.handles[j] = waitTable.handles[j + 1];
        waitTable.callbacks[j] = waitTable.callbacks[j + 1];
        waitTable.contexts[j] = waitTable.contexts[j + 1];
        waitTable.serials[j] = waitTable.serials[j + 1];
    }
    --waitTable.count;
}

} // namespace

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
    if (row < waitTable.count)
        RemoveRow(row);
}

std::int32_t FindWaitRow(std::uint64_t serial) {
    for (std::int32_t row = 0; row < waitTable.count; ++row)
        if (waitTable.serials[row] == serial)
            return row;
    return -1;
}

bool WaitRow::Add(port::Handle handle, WaitCallback callback, void* context) {
    Remove();
    if (!AddWaitHandle(handle, callback, context))
        return false;
    serial = waitTable.lastSerial;
    return true;
}

void WaitRow::Remove() {
    const std::int32_t row = serial == 0 ? -1 : FindWaitRow(serial);
    if (row >= 0)
        RemoveRow(row);
    serial = 0;
}
