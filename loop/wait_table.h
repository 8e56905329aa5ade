// The wait table: the handles the program's one thread waits on, each with
// the callback that serves it and the callback's context.
#pragma once

#include "port/types.h"

#include <cstdint>

struct WaitTable;

// Called with the table, the row that was signalled and the row's context.
using WaitCallback = void (*)(WaitTable* table, std::int32_t index, void* context);

// Room for console input, one row for each of at most 15 applications and
// one for each one's readiness or health check under way, the control
// channel's endpoint and its clients, the capture processes watched, and a
// few more; no more than a Windows wait takes (64 handles).
inline constexpr int kWaitTableSize = 64;

// Row i of the arrays is one wait slot: a handle, its callback and the
// callback's context. The handles form one contiguous array in row order,
// ready to be handed to the wait. Every row also gets a serial number that
// no later row repeats, so that the loop can tell a row it saw signalled
// from one that took its place (a closed handle's number may come back).
struct WaitTable {
    std::int32_t count;
    port::Handle handles[kWaitTableSize];
    WaitCallback callbacks[kWaitTableSize];
    void* contexts[kWaitTableSize];
    std::uint64_t serials[kWaitTableSize];
    std::uint64_t lastSerial;
};

extern WaitTable waitTable;

// Appends a row. Returns false, changing nothing, when all rows are in use.
bool AddWaitHandle(port::Handle handle, WaitCallback callback, void* context);

// Removes the lowest row holding `handle`, keeping the order of the others.
// A handle that is not in the table leaves it unchanged.
void RemoveWaitHandle(port::Handle handle);

// The row that has the serial number `serial` now, or -1 when it was removed.
std::int32_t FindWaitRow(std::uint64_t serial);
