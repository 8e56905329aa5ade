// The state of the POSIX console (internal to the back end): the terminal's
// descriptors, the cell grid it mirrors, the cursor and the input collected.
#pragma once

#include "port/posix/terminal/console_input.h"
#include "port/screen_grid.h"
#include "port/types.h"

#include <cstdint>

namespace port::posix {

// The cursor size a terminal starts with, as a Windows console reports it.
inline constexpr std::uint32_t kInitialCursorSize = 25;

struct ConsoleState {
    bool initialised = false;
    bool available = false;
    int input = -1;  // the console input handle: a close-on-exec duplicate of fd 0
    int output = -1; // the console output handle: a close-on-exec duplicate of fd 1
    bool sized = false;
    ScreenGrid grid;
    Coord cursor{0, 0};
    bool cursorPlaced = false;
    CursorInfo cursorInfo{kInitialCursorSize, true};
    TerminalInput keys;
    bool sizeRecordWaiting = false; // a buffer-size record waits to be read
};

// The one console. It is never destroyed: the exit handlers may still write
// to the terminal during static destruction.
ConsoleState& State();

// Takes `input` and `output` (standard input and output, the first time any
// console function is called) as the console when both are a terminal: their
// close-on-exec duplicates become the console handles, and the grid takes
// the terminal's size.
void OpenConsole(ConsoleState& s, int input, int output);

} // namespace port::posix
