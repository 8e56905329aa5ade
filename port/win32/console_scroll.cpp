// Scrolling a rectangle of the console screen buffer.
//
// Some consoles (Wine's) refuse a destination with a negative coordinate,
// which is how the log area moves up by one row. Such a request is carried
// out as the equivalent one that stays inside the buffer: the source loses
// the rows (or columns) that would land above (or left of) the buffer, and
// the destination becomes 0 on that axis. The moved cells end up in the same
// places. The cells of the dropped strip that the moved cells do not cover
// are filled afterwards, since the console no longer sees them as part of the
// source.
#include "port/console.h"

#include "port/win32/console_guard.h"
#include "port/win32/native.h"

#include <algorithm>
#include <climits>

namespace port {

using win32::RefuseWithoutConsole;
using win32::ToNative;

namespace {

// Sets cells first..last (inclusive) of `row` to `fill`, as far as `clip` allows.
void FillRun(HANDLE output, const CharInfo& fill, const Rect& clip, int row, int first, int last) {
    if (row < clip.Top || row > clip.Bottom)
        return;
    first = std::max(first, static_cast<int>(clip.Left));
    last = std::min(last, static_cast<int>(clip.Right));
    if (first > last)
        return;
    const COORD start{static_cast<SHORT>(first), static_cast<SHORT>(row)};
    const DWORD count = static_cast<DWORD>(last - first + 1);
    DWORD done = 0;
    ::FillConsoleOutputCharacterA(output, fill.character, count, start, &done);
    ::FillConsoleOutputAttribute(output, fill.attributes, count, start, &done);
}

// Fills the cells of `scroll` that the console left alone in the translated
// request: those outside the trimmed source, and outside the destination the
// caller asked for.
void FillDroppedStrips(HANDLE output, const Rect& scroll, const Rect& clip, Coord destination,
                       int dropRows, int dropColumns, const CharInfo& fill) {
    const int height = scroll.Bottom - scroll.Top + 1;
    const int width = scroll.Right - scroll.Left + 1;
    const int destTop = destination.Y;
    const int destBottom = destination.Y + height - 1;
    const int destLeft = destination.X;
    const int destRight = destination.X + width - 1;
    const int firstRow = std::max(static_cast<int>(scroll.Top), static_cast<int>(clip.Top));
    const int lastRow = std::min(static_cast<int>(scroll.Bottom), static_cast<int>(clip.Bottom));
    for (int row = firstRow; row <= lastRow; ++row) {
        // The part of this row that the translated source did not include.
        int first = scroll.Left;
        int last = row < scroll.Top + dropRows
                       ? scroll.Right
                       : std::min(scroll.Left + dropColumns - 1, static_cast<int>(scroll.Right));
        if (first > last)
            continue;
        if (row < destTop || row > destBottom) {
            FillRun(output, fill, clip, row, first, last);
            continue;
        }
        // Moved cells cover destLeft..destRight of this row: fill on either side.
        FillRun(output, fill, clip, row, first, std::min(last, destLeft - 1));
        FillRun(output, fill, clip, row, std::max(first, destRight + 1), last);
    }
}

} // namespace

bool ScrollScreen(Handle output, const Rect& scroll, const Rect* clip, Coord destination,
                  const CharInfo& fill) {
    if (RefuseWithoutConsole())
        return false;
    HANDLE native = ToNative(output);
    CHAR_INFO nativeFill;
    nativeFill.Char.AsciiChar = fill.character;
    nativeFill.Attributes = fill.attributes;
    SMALL_RECT nativeClip = clip != nullptr ? ToNative(*clip) : SMALL_RECT{};
    const SMALL_RECT* clipArgument = clip != nullptr ? &nativeClip : nullptr;

    if (destination.X >= 0 && destination.Y >= 0) {
        const SMALL_RECT source = ToNative(scroll);
        return ::ScrollConsoleScreenBufferA(native, &source, clipArgument, ToNative(destination),
                                            &nativeFill) != 0;
    }

    const int dropRows = destination.Y < 0 ? -destination.Y : 0;
    const int dropColumns = destination.X < 0 ? -destination.X : 0;
    const int trimmedTop = scroll.Top + dropRows;
    const int trimmedLeft = scroll.Left + dropColumns;
    if (trimmedTop <= scroll.Bottom && trimmedLeft <= scroll.Right) {
        const SMALL_RECT source{static_cast<SHORT>(trimmedLeft), static_cast<SHORT>(trimmedTop),
                                scroll.Right, scroll.Bottom};
        const COORD origin{static_cast<SHORT>(std::max<int>(destination.X, 0)),
                           static_cast<SHORT>(std::max<int>(destination.Y, 0))};
        if (!::ScrollConsoleScreenBufferA(native, &source, clipArgument, origin, &nativeFill))
            return false;
    }
    // With no clip the whole buffer may change; the runs stay inside `scroll`.
    const Rect everything{0, 0, SHRT_MAX, SHRT_MAX};
    FillDroppedStrips(native, scroll, clip != nullptr ? *clip : everything, destination, dropRows,
                      dropColumns, fill);
    return true;
}

} // namespace port
