#include "port/posix/terminal/vt_writer.h"

#include "common/text.h"

#include <algorithm>

namespace port::posix {

namespace {

void AppendNumber(std::string& bytes, int value) {
    bytes += std::to_string(value);
}

// Windows colour bits (blue 1, green 2, red 4) to ANSI (red 1, green 2, blue 4).
int AnsiColour(int bits) {
    return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2);
}

} // namespace

void AppendMove(VtOut& out, int x, int y) {
    out.bytes += "\x1b[";
    AppendNumber(out.bytes, y + 1);
    out.bytes += ';';
    AppendNumber(out.bytes, x + 1);
    out.bytes += 'H';
}

void AppendAttribute(VtOut& out, std::uint16_t attribute) {
    out.attribute = attribute;
    if (attribute == ScreenGrid::kDefaultAttribute) {
        out.bytes += "\x1b[0m";
        return;
    }
    const int foreground = attribute & 0x0F;
    const int background = (attribute >> 4) & 0x0F;
    out.bytes += "\x1b[0;";
    AppendNumber(out.bytes, (foreground & 8 ? 90 : 30) + AnsiColour(foreground & 7));
    out.bytes += ';';
    if (background == 0)
        out.bytes += "49"; // black: the terminal's own background
    else
        AppendNumber(out.bytes, (background & 8 ? 100 : 40) + AnsiColour(background & 7));
    if (attribute & 0x4000) // COMMON_LVB_REVERSE_VIDEO
        out.bytes += ";7";
    if (attribute & 0x8000) // COMMON_LVB_UNDERSCORE
        out.bytes += ";4";
    out.bytes += 'm';
}

void AppendGlyph(std::string& bytes, char character) {
    const unsigned char c = static_cast<unsigned char>(character);
    // 128..159 would become the C1 controls in UTF-8.
    if (IsControlByte(character) || (c >= 128 && c < 160)) {
        bytes += kControlPlaceholder;
    } else if (c >= 160) { // Latin-1, as UTF-8
        bytes += static_cast<char>(0xC0 | (c >> 6));
        bytes += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        bytes += static_cast<char>(c);
    }
}

void AppendRow(VtOut& out, const ScreenGrid& grid, int y, int x0, int x1) {
    x0 = std::max(x0, 0);
    x1 = std::min(x1, grid.Width() - 1);
    if (x0 > x1 || y < 0 || y >= grid.Height())
        return;
    AppendMove(out, x0, y);
    for (int x = x0; x <= x1; ++x) {
        const CharInfo& cell = grid.At(x, y);
        if (cell.attributes != out.attribute)
            AppendAttribute(out, cell.attributes);
        AppendGlyph(out.bytes, cell.character);
    }
}

void AppendRun(VtOut& out, const ScreenGrid& grid, Coord start, std::uint32_t count) {
    int x = start.X;
    int y = start.Y;
    const int width = grid.Width();
    if (x < 0 || y < 0 || x >= width)
        return;
    while (count > 0 && y < grid.Height()) {
        const int last = static_cast<int>(std::min<std::uint32_t>(
                             static_cast<std::uint32_t>(width - x), count)) +
                         x - 1;
        AppendRow(out, grid, y, x, last);
        count -= static_cast<std::uint32_t>(last - x + 1);
        x = 0;
        ++y;
    }
}

void AppendScroll(VtOut& out, const ScreenGrid& grid, const Rect& changed, int dx, int dy) {
    if (changed.Left > changed.Right || changed.Top > changed.Bottom)
        return;
    const int top = changed.Top;
    const int bottom = changed.Bottom;
    if (dx == 0 && dy < 0 && changed.Left == 0 && changed.Right == grid.Width() - 1) {
        const int n = -dy;
        if (bottom - top + 1 > n) {
            out.bytes += "\x1b[";
            AppendNumber(out.bytes, top + 1);
            out.bytes += ';';
            AppendNumber(out.bytes, bottom + 1);
            out.bytes += "r\x1b[";
            AppendNumber(out.bytes, n);
            out.bytes += "S\x1b[r";
            for (int y = bottom - n + 1; y <= bottom; ++y)
                AppendRow(out, grid, y, 0, grid.Width() - 1);
            return;
        }
    }
    for (int y = top; y <= bottom; ++y)
        AppendRow(out, grid, y, changed.Left, changed.Right);
}

void AppendClear(VtOut& out) {
    out.bytes += "\x1b[0m\x1b[r\x1b[2J";
    out.attribute = ScreenGrid::kDefaultAttribute;
}

void AppendCursorShape(VtOut& out, const CursorInfo& info) {
    out.bytes += info.size >= 50 ? "\x1b[2 q" : "\x1b[4 q";
    out.bytes += info.visible ? "\x1b[?25h" : "\x1b[?25l";
}

void AppendTitle(VtOut& out, const char* title) {
    out.bytes += "\x1b]0;";
    for (const char* p = title; *p; ++p)
        AppendGlyph(out.bytes, *p);
    out.bytes += '\x07';
}

void AppendFinish(VtOut& out, const Coord* cursor) {
    if (out.attribute != kUnknownAttribute && out.attribute != ScreenGrid::kDefaultAttribute) {
        out.bytes += "\x1b[0m";
        out.attribute = ScreenGrid::kDefaultAttribute;
    }
    if (cursor)
        AppendMove(out, cursor->X, cursor->Y);
}

} // namespace port::posix
