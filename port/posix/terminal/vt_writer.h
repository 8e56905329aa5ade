// The VT writer: plain functions from changes of the cell grid to the bytes
// that make a VT terminal (xterm, tmux, the Linux console) show the same.
// Pure code: no OS headers, unit-tested on strings
// (tests/port_posix/vt_writer_test.cpp).
//
// Every function appends to a VtOut, which remembers the attribute the
// terminal was last told, so that one operation switches attributes only
// where they change. Cells are always painted at explicitly addressed
// positions and never past the last column, so the terminal never wraps.
#pragma once

#include "port/screen_grid.h"
#include "port/types.h"

#include <cstdint>
#include <string>

namespace port::posix {

// Attribute of a VtOut before anything set one.
inline constexpr std::uint16_t kUnknownAttribute = 0xFFFF;

struct VtOut {
    std::string bytes;
    std::uint16_t attribute = kUnknownAttribute;
};

// The cursor to column x, row y (counted from 0).
void AppendMove(VtOut& out, int x, int y);

// SGR for a Windows attribute (foreground bits 0..3, background 4..7,
// reverse video 0x4000, underscore 0x8000); attribute 7 is the default.
void AppendAttribute(VtOut& out, std::uint16_t attribute);

// What the terminal shows for a cell's byte, one column wide: control bytes
// (0..31, 127, 128..159) as '?', never sent; 160..255 as Latin-1 in UTF-8.
void AppendGlyph(std::string& bytes, char character);

// Paints cells x0..x1 of row y as the grid holds them.
void AppendRow(VtOut& out, const ScreenGrid& grid, int y, int x0, int x1);

// Paints `count` cells from `start`, row after row (a write or a fill).
void AppendRun(VtOut& out, const ScreenGrid& grid, Coord start, std::uint32_t count);

// After grid.Scroll moved a block by (dx, dy) and reported `changed`: whole
// rows moved up are scrolled by the terminal itself inside a scroll region
// (so that what the terminal showed scrolls as a console buffer does), and
// only the vacated rows are painted; any other move repaints `changed`.
void AppendScroll(VtOut& out, const ScreenGrid& grid, const Rect& changed, int dx, int dy);

// The whole screen blank with default attributes, no scroll region (after
// the terminal changed its size).
void AppendClear(VtOut& out);

// The cursor shape of a console cursor size (block from 50 %, else
// underline) and its visibility.
void AppendCursorShape(VtOut& out, const CursorInfo& info);

// The window title (OSC 0), control bytes shown as '?'.
void AppendTitle(VtOut& out, const char* title);

// Ends an operation: default attributes again, and the cursor back at
// `cursor` when one is given.
void AppendFinish(VtOut& out, const Coord* cursor);

} // namespace port::posix
