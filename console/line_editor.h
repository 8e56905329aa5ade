// The input line editor on the last row: editing keys, typing modes and the
// ring of entered lines.
#pragma once

#include "console/input_line.h"
#include "loop/wait_table.h"
#include "port/types.h"

// The wait callback of the console input row: applies every waiting key
// event and follows a change of the screen's size (a buffer-size record),
// then pauses briefly.
void OnConsoleInput(WaitTable* table, std::int32_t index, void* context);

// Applies one key event to the current line.
void HandleKey(const port::KeyEvent& key);

// The screen's size changed: the console lays itself out anew and the input
// line is cut to the new limit and drawn again.
void FollowScreenSize();

// The pause at the end of every call of OnConsoleInput, in milliseconds.
inline constexpr std::uint32_t kInputPauseMs = 50;
