#include "port/screen_grid.h"

#include <gtest/gtest.h>

using port::CharInfo;
using port::Coord;
using port::Rect;
using port::ScreenGrid;

namespace {

void FillRows(ScreenGrid& grid) {
    for (int y = 0; y < grid.Height(); ++y) {
        std::string row(static_cast<std::size_t>(grid.Width()), static_cast<char>('a' + y));
        grid.Write(row.data(), static_cast<std::uint32_t>(row.size()),
                   Coord{0, static_cast<std::int16_t>(y)}, nullptr);
    }
}

TEST(ScreenGrid, WritesRunOnToTheNextRowAndStopAtTheEnd) {
    ScreenGrid grid;
    grid.Reset(4, 2);
    std::uint32_t written = 0;
    ASSERT_TRUE(grid.Write("abcdef", 6, Coord{2, 0}, &written));
    EXPECT_EQ(6u, written);
    EXPECT_EQ("  ab", grid.RowText(0));
    EXPECT_EQ("cdef", grid.RowText(1));

    ASSERT_TRUE(grid.Write("xyz", 3, Coord{2, 1}, &written));
    EXPECT_EQ(2u, written);
    EXPECT_EQ("cdxy", grid.RowText(1));
    EXPECT_FALSE(grid.Write("q", 1, Coord{4, 0}, &written));
    EXPECT_FALSE(grid.Write("q", 1, Coord{0, -1}, &written));
}

TEST(ScreenGrid, WritesKeepAttributesAndFillsSetThem) {
    ScreenGrid grid;
    grid.Reset(5, 2);
    std::uint32_t written = 0;
    ASSERT_TRUE(grid.FillAttributes(0x1F, 7, Coord{1, 0}, &written));
    EXPECT_EQ(7u, written);
    grid.Write("\x1b\n", 2, Coord{0, 0}, nullptr);
    EXPECT_EQ('\x1b', grid.At(0, 0).character);
    EXPECT_EQ(7, grid.At(0, 0).attributes);
    EXPECT_EQ('\n', grid.At(1, 0).character);
    EXPECT_EQ(0x1F, grid.At(1, 0).attributes);
    EXPECT_EQ(0x1F, grid.At(2, 1).attributes);
    EXPECT_EQ(7, grid.At(3, 1).attributes);
    ASSERT_TRUE(grid.FillCharacters('#', 100, Coord{3, 1}, &written));
    EXPECT_EQ(2u, written);
}

TEST(ScreenGrid, ScrollUpOneRowInsideAClipDiscardsTheTopRowAndBlanksTheLast) {
    ScreenGrid grid;
    grid.Reset(3, 4);
    FillRows(grid);
    const Rect area{0, 0, 2, 2};
    ASSERT_TRUE(grid.Scroll(area, &area, Coord{0, -1}, CharInfo{' ', 7}));
    EXPECT_EQ("bbb", grid.RowText(0));
    EXPECT_EQ("ccc", grid.RowText(1));
    EXPECT_EQ("   ", grid.RowText(2));
    EXPECT_EQ("ddd", grid.RowText(3)) << "the row below the clip is untouched";
}

// Moving rows 1..n to the top is the same as moving rows 0..n one row above
// the buffer: the Windows back end relies on that to avoid negative origins.
TEST(ScreenGrid, ScrollToANegativeOriginEqualsTheTrimmedSourceAtZero) {
    ScreenGrid a, b;
    a.Reset(6, 5);
    b.Reset(6, 5);
    FillRows(a);
    FillRows(b);
    const Rect clip{0, 0, 5, 3};
    ASSERT_TRUE(a.Scroll(Rect{0, 0, 5, 3}, &clip, Coord{0, -1}, CharInfo{'.', 9}));
    ASSERT_TRUE(b.Scroll(Rect{0, 1, 5, 3}, &clip, Coord{0, 0}, CharInfo{'.', 9}));
    for (int y = 0; y < 5; ++y) {
        EXPECT_EQ(a.RowText(y), b.RowText(y)) << "row " << y;
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(a.At(x, y).attributes, b.At(x, y).attributes);
    }
    EXPECT_EQ("......", a.RowText(3));
    EXPECT_EQ(9, a.At(0, 3).attributes);
}

TEST(ScreenGrid, ScrollWithoutClipChangesOnlyTheBufferAndRejectsOutsideRects) {
    ScreenGrid grid;
    grid.Reset(4, 3);
    FillRows(grid);
    ASSERT_TRUE(grid.Scroll(Rect{0, 0, 1, 2}, nullptr, Coord{2, 1}, CharInfo{'-', 7}));
    EXPECT_EQ("--aa", grid.RowText(0));
    EXPECT_EQ("--aa", grid.RowText(1));
    EXPECT_EQ("--bb", grid.RowText(2));
    EXPECT_FALSE(grid.Scroll(Rect{5, 5, 6, 6}, nullptr, Coord{0, 0}, CharInfo{' ', 7}));
}

TEST(ScreenGrid, ScrollReportsTheRectangleItChanged) {
    ScreenGrid grid;
    grid.Reset(6, 5);
    FillRows(grid);
    Rect changed{};
    const Rect log{0, 0, 5, 3};
    ASSERT_TRUE(grid.Scroll(log, &log, Coord{0, -1}, CharInfo{' ', 7}, &changed));
    EXPECT_EQ(0, changed.Left);
    EXPECT_EQ(0, changed.Top);
    EXPECT_EQ(5, changed.Right);
    EXPECT_EQ(3, changed.Bottom);

    // A block moved right and down, without a clip: source and target.
    ASSERT_TRUE(grid.Scroll(Rect{1, 1, 2, 2}, nullptr, Coord{3, 2}, CharInfo{'.', 7}, &changed));
    EXPECT_EQ(1, changed.Left);
    EXPECT_EQ(1, changed.Top);
    EXPECT_EQ(4, changed.Right);
    EXPECT_EQ(3, changed.Bottom);

    // Moved wholly outside a clip that holds none of it: nothing changes.
    const Rect clip{5, 4, 5, 4};
    ASSERT_TRUE(grid.Scroll(Rect{0, 0, 1, 1}, &clip, Coord{2, 0}, CharInfo{'.', 7}, &changed));
    EXPECT_GT(changed.Left, changed.Right);
}

// Whatever the request, no cell outside the reported rectangle changes.
TEST(ScreenGrid, NoCellOutsideTheReportedRectangleChanges) {
    const int w = 7, h = 6;
    unsigned seed = 12345;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<unsigned>(range));
    };
    for (int round = 0; round < 2000; ++round) {
        ScreenGrid grid;
        grid.Reset(w, h);
        FillRows(grid);
        const ScreenGrid before = grid;
        auto r = [&](int range) { return static_cast<std::int16_t>(next(range + 4) - 2); };
        Rect scroll{r(w), r(h), r(w), r(h)};
        Rect clip{r(w), r(h), r(w), r(h)};
        Coord destination{r(w), r(h)};
        Rect changed{};
        const bool useClip = next(2) == 0;
        if (!grid.Scroll(scroll, useClip ? &clip : nullptr, destination, CharInfo{'#', 9},
                         &changed))
            continue;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool inside = x >= changed.Left && x <= changed.Right && y >= changed.Top &&
                                    y <= changed.Bottom;
                if (inside)
                    continue;
                EXPECT_EQ(before.At(x, y).character, grid.At(x, y).character)
                    << "round " << round << " cell " << x << "," << y;
                EXPECT_EQ(before.At(x, y).attributes, grid.At(x, y).attributes);
            }
    }
}

} // namespace
