// The VT writer over strings: cursor addressing, attributes, glyphs, runs
// across a row end, the scroll region for whole rows moving up and the
// repaint of any other move, the clear after a size change, the cursor shape,
// the title and the end of an operation.
#include "port/posix/terminal/vt_writer.h"
#include "port/screen_grid.h"

#include <gtest/gtest.h>

#include <string>

using port::CharInfo;
using port::Coord;
using port::Rect;
using port::ScreenGrid;
using namespace port::posix;

namespace {

// A grid whose row y is filled with the letter 'a' + y.
ScreenGrid Letters(int width, int height) {
    ScreenGrid grid;
    grid.Reset(width, height);
    for (int y = 0; y < height; ++y) {
        std::string row(static_cast<std::size_t>(width), static_cast<char>('a' + y));
        grid.Write(row.data(), static_cast<std::uint32_t>(row.size()),
                   Coord{0, static_cast<std::int16_t>(y)}, nullptr);
    }
    return grid;
}

std::string Glyphs(const std::string& bytes) {
    std::string out;
    for (char c : bytes)
        AppendGlyph(out, c);
    return out;
}

} // namespace

TEST(VtWriter, MoveCountsFromOne) {
    VtOut out;
    AppendMove(out, 0, 0);
    AppendMove(out, 4, 2);
    EXPECT_EQ("\x1b[1;1H\x1b[3;5H", out.bytes);
}

TEST(VtWriter, Attributes) {
    VtOut out;
    AppendAttribute(out, 7);
    EXPECT_EQ("\x1b[0m", out.bytes);
    EXPECT_EQ(7, out.attribute);
    const struct {
        std::uint16_t attribute;
        const char* sgr;
    } rows[] = {
        {0x1F, "\x1b[0;97;44m"},     // bright white on blue
        {0x0C, "\x1b[0;91;49m"},     // bright red on black: the terminal's background
        {0x70, "\x1b[0;30;47m"},     // black on grey
        {0x4007, "\x1b[0;37;49;7m"}, // reverse video
        {0x8007, "\x1b[0;37;49;4m"}, // underscore
        {0x0E, "\x1b[0;93;49m"},     // yellow: red and green
        {0x09, "\x1b[0;94;49m"},     // bright blue
    };
    for (const auto& row : rows) {
        VtOut one;
        AppendAttribute(one, row.attribute);
        EXPECT_EQ(row.sgr, one.bytes) << row.attribute;
    }
}

TEST(VtWriter, ControlBytesNeverReachTheTerminal) {
    EXPECT_EQ("a?b??", Glyphs(std::string("a\x1b"
                                          "b\n\x7f")));
    EXPECT_EQ("??", Glyphs("\x80\x9f"));
    EXPECT_EQ("\xc2\xa0\xc3\xa9\xc3\xbf", Glyphs("\xa0\xe9\xff"));
    VtOut out;
    AppendTitle(out, "Zelk \x1b]2;x\x07 \xe9");
    EXPECT_EQ("\x1b]0;Zelk ?]2;x? \xc3\xa9\x07", out.bytes);
}

TEST(VtWriter, ARunGoesOnAtTheNextRowWithAnExplicitMove) {
    ScreenGrid grid;
    grid.Reset(4, 3);
    grid.Write("abcdef", 6, Coord{2, 0}, nullptr);
    VtOut out;
    AppendRun(out, grid, Coord{2, 0}, 6);
    EXPECT_EQ("\x1b[1;3H\x1b[0mab\x1b[2;1Hcdef", out.bytes);
    // A run past the end stops at the last cell.
    VtOut tail;
    AppendRun(tail, grid, Coord{3, 2}, 10);
    EXPECT_EQ("\x1b[3;4H\x1b[0m ", tail.bytes);
}

TEST(VtWriter, AttributesSwitchOnlyWhereTheyChange) {
    ScreenGrid grid;
    grid.Reset(6, 1);
    grid.FillAttributes(0x1F, 2, Coord{2, 0}, nullptr);
    VtOut out;
    AppendRow(out, grid, 0, 0, 5);
    EXPECT_EQ("\x1b[1;1H\x1b[0m  \x1b[0;97;44m  \x1b[0m  ", out.bytes);
    // The end of the operation: nothing to reset, the cursor back.
    const Coord cursor{1, 0};
    AppendFinish(out, &cursor);
    EXPECT_EQ("\x1b[1;1H\x1b[0m  \x1b[0;97;44m  \x1b[0m  \x1b[1;2H", out.bytes);
    VtOut coloured;
    AppendRow(coloured, grid, 0, 2, 3);
    AppendFinish(coloured, nullptr);
    EXPECT_EQ("\x1b[1;3H\x1b[0;97;44m  \x1b[0m", coloured.bytes);
}

TEST(VtWriter, TheLogScrollIsARegionScrollAndTheVacatedRow) {
    ScreenGrid grid = Letters(5, 4);
    const Rect log{0, 0, 4, 2};
    Rect changed{};
    ASSERT_TRUE(grid.Scroll(log, &log, Coord{0, -1}, CharInfo{' ', 7}, &changed));
    VtOut out;
    AppendScroll(out, grid, changed, 0, -1);
    EXPECT_EQ("\x1b[1;3r\x1b[1S\x1b[r\x1b[3;1H\x1b[0m     ", out.bytes);
}

TEST(VtWriter, OtherMovesRepaintTheChangedRectangle) {
    ScreenGrid grid = Letters(5, 4);
    Rect changed{};
    ASSERT_TRUE(grid.Scroll(Rect{0, 0, 1, 1}, nullptr, Coord{2, 1}, CharInfo{'.', 7}, &changed));
    VtOut out;
    AppendScroll(out, grid, changed, 2, 1);
    EXPECT_EQ("\x1b[1;1H\x1b[0m..aa"
              "\x1b[2;1H..aa"
              "\x1b[3;1Hccbb",
              out.bytes);

    // Rows moving down, whole width: repainted, never scrolled.
    ScreenGrid rows = Letters(3, 4);
    ASSERT_TRUE(rows.Scroll(Rect{0, 0, 2, 1}, nullptr, Coord{0, 2}, CharInfo{' ', 7}, &changed));
    VtOut down;
    AppendScroll(down, rows, changed, 0, 2);
    EXPECT_EQ("\x1b[1;1H\x1b[0m   \x1b[2;1H   \x1b[3;1Haaa\x1b[4;1Hbbb", down.bytes);

    // Everything scrolled away: no region left to scroll, all repainted.
    ScreenGrid gone = Letters(3, 2);
    ASSERT_TRUE(gone.Scroll(Rect{0, 0, 2, 1}, nullptr, Coord{0, -2}, CharInfo{' ', 7}, &changed));
    VtOut away;
    AppendScroll(away, gone, changed, 0, -2);
    EXPECT_EQ("\x1b[1;1H\x1b[0m   \x1b[2;1H   ", away.bytes);
}

TEST(VtWriter, NothingChangedWritesNothing) {
    VtOut out;
    ScreenGrid grid = Letters(3, 3);
    AppendScroll(out, grid, Rect{0, 0, -1, -1}, 1, 0);
    EXPECT_EQ("", out.bytes);
}

TEST(VtWriter, ClearCursorShape) {
    VtOut out;
    out.attribute = 0x1F;
    AppendClear(out);
    EXPECT_EQ("\x1b[0m\x1b[r\x1b[2J", out.bytes);
    EXPECT_EQ(7, out.attribute);
    VtOut block;
    AppendCursorShape(block, port::CursorInfo{99, true});
    EXPECT_EQ("\x1b[2 q\x1b[?25h", block.bytes);
    VtOut underline;
    AppendCursorShape(underline, port::CursorInfo{19, false});
    EXPECT_EQ("\x1b[4 q\x1b[?25l", underline.bytes);
}
