// The wait table and the event loop: the program's one thread waits on console
// input and on the process handles of the supervised applications.
#pragma once

#include "port/types.h"

#include <cstdint>

class ArgReader;
struct WaitTable;

// Called with the table, the row that was signalled and the row's context.
using WaitCallback = void (*)(WaitTable* table, std::int32_t index, void* context);

// Console input, the control channel and one row for each of at most 15
// applications.
inline constexpr int kWaitTableSize = 17;

// Row i of the three arrays is one wait slot: a handle, its callback and the
// callback's context. The handles form one contiguous array in row order,
// ready to be handed to the wait.
struct WaitTable {
    std::int32_t count;
    port::Handle handles[kWaitTableSize];
    WaitCallback callbacks[kWaitTableSize];
    void* contexts[kWaitTableSize];
};

extern WaitTable waitTable;

// Cleared by the "quit" command; the loop ends after the pass that cleared it.
extern bool RunningFlag;

// Appends a row. Returns false, changing nothing, when all rows are in use.
bool AddWaitHandle(port::Handle handle, WaitCallback callback, void* context);

// Removes the lowest row holding `handle`, keeping the order of the others.
// A handle that is not in the table leaves it unchanged.
void RemoveWaitHandle(port::Handle handle);

// Waits, dispatches the lowest signalled row and pauses, until RunningFlag is clear.
void RunEventLoop();

// The "quit" command.
void QuitCommand(ArgReader* args);

// The pause after every pass of the loop, in milliseconds.
inline constexpr std::uint32_t kEventLoopPauseMs = 100;
