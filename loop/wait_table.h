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

// Owns one row of the wait table: registering again replaces its row, and
// its end removes it, so that no callback outlives what it was added for.
class WaitRow {
  public:
    WaitRow() = default;
    ~WaitRow() { Remove(); }
    WaitRow(const WaitRow&) = delete;
    WaitRow& operator=(const WaitRow&) = delete;
    WaitRow(WaitRow&& other) noexcept : serial(other.serial) { other.serial = 0; }
    WaitRow& operator=(WaitRow&& other) noexcept {
        if (this != &other) {
            Remove();
            serial = other.serial;
            other.serial = 0;
        }
        return *this;
    }

    // Appends a row for `handle`, replacing the row it had. False, with no
    // row, when the table is full.
    bool Add(port::Handle handle, WaitCallback callback, void* context);
    // Removes its row, if it has one.
    void Remove();
    bool Active() const { return serial != 0; }

  private:
    std::uint64_t serial = 0;
};
