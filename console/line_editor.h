// The input line editor on the last row: editing keys, typing modes and the
// ring of entered lines.
#pragma once

#include "app/event_loop.h"
#include "port/types.h"

// The wait callback of the console input row: applies every waiting key
// event, then pauses briefly.
void OnConsoleInput(WaitTable* table, std::int32_t index, void* context);

// Applies one key event to the current line.
void HandleKey(const port::KeyEvent& key);

// Puts the current line on the input row and the cursor at its cursor index.
void RedrawInputLine();

// The pause at the end of every call of OnConsoleInput, in milliseconds.
inline constexpr std::uint32_t kInputPauseMs = 50;
