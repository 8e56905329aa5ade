// The console: a screen buffer of W x H cells driven cell by cell, and an input
// queue of key records. The functions behave like the Windows console functions
// of similar names; every one returns false on failure and sets LastError() (port/system.h).
#pragma once

#include "port/types.h"

#include <cstdint>

namespace port {

// True when standard input and standard output are an interactive console
// (a Windows console, or a terminal on POSIX). When false, every other function
// of this header fails without touching anything.
bool ConsoleAvailable();

Handle StdOutput();
Handle StdInput();

// Gives the terminal back as the program found it (its mode, scroll region
// and cursor), for a program that ends with a message on standard error:
// what is written afterwards stays on the screen. The console is not used
// again afterwards.
void RestoreConsole();

// The size of the screen buffer in cells.
bool GetScreenSize(Handle output, Coord* size);

// Console input mode bits as Windows defines them; the manager asks for 28
// (echo, window and mouse input; no line input, no processed input). On POSIX
// this puts the terminal in raw mode.
bool SetInputMode(Handle input, std::uint32_t mode);

bool SetCursorPosition(Handle output, Coord position);
bool GetCursorInfo(Handle output, CursorInfo* info);
bool SetCursorInfo(Handle output, const CursorInfo& info);

// Moves the cells of `scroll` so that its top-left cell lands on `destination`.
// Only cells inside `clip` (or the whole buffer when clip is null) change;
// cells of `scroll` that no moved cell covers are set to `fill`.
bool ScrollScreen(Handle output, const Rect& scroll, const Rect* clip, Coord destination,
                  const CharInfo& fill);

// Places bytes into consecutive cells from `start`, row after row, keeping
// the cells' attributes. No byte is interpreted; the cursor does not move.
bool WriteCells(Handle output, const char* text, std::uint32_t length, Coord start,
                std::uint32_t* written);
bool FillCellCharacters(Handle output, char character, std::uint32_t length, Coord start,
                        std::uint32_t* written);
bool FillCellAttributes(Handle output, std::uint16_t attribute, std::uint32_t length, Coord start,
                        std::uint32_t* written);

// The number of input records waiting to be read.
bool CountInputEvents(Handle input, std::uint32_t* count);
// Reads one input record; *read is 0 when none was waiting.
bool ReadInputRecord(Handle input, InputRecord* record, std::uint32_t* read);

} // namespace port
