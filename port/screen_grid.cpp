#include "port/screen_grid.h"

#include <algorithm>

namespace port {

void ScreenGrid::Reset(int width, int height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    cells_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_),
                  CharInfo{' ', kDefaultAttribute});
}

bool ScreenGrid::Contains(Coord at) const {
    return at.X >= 0 && at.Y >= 0 && at.X < width_ && at.Y < height_;
}

std::string ScreenGrid::RowText(int y) const {
    std::string text;
    if (y < 0 || y >= height_)
        return text;
    text.reserve(static_cast<std::size_t>(width_));
    for (int x = 0; x < width_; ++x)
        text.push_back(At(x, y).character);
    return text;
}

std::uint32_t ScreenGrid::RunLength(Coord start, std::uint32_t length) const {
    std::size_t total = cells_.size();
    std::size_t first = Index(start.X, start.Y);
    return static_cast<std::uint32_t>(std::min<std::size_t>(length, total - first));
}

template <typename CellChange>
bool ScreenGrid::ChangeRun(Coord start, std::uint32_t length, std::uint32_t* written,
                           CellChange change) {
    if (!Contains(start))
        return false;
    const std::uint32_t n = RunLength(start, length);
    const std::size_t first = Index(start.X, start.Y);
    for (std::uint32_t i = 0; i < n; ++i)
        change(cells_[first + i], i);
    if (written)
        *written = n;
    return true;
}

bool ScreenGrid::Write(const char* text, std::uint32_t length, Coord start,
                       std::uint32_t* written) {
    return ChangeRun(start, length, written,
                     [text](CharInfo& cell, std::uint32_t i) { cell.character = text[i]; });
}

bool ScreenGrid::FillCharacters(char character, std::uint32_t length, Coord start,
                                std::uint32_t* written) {
    return ChangeRun(start, length, written,
                     [character](CharInfo& cell, std::uint32_t) { cell.character = character; });
}

bool ScreenGrid::FillAttributes(std::uint16_t attribute, std::uint32_t length, Coord start,
                                std::uint32_t* written) {
    return ChangeRun(start, length, written,
                     [attribute](CharInfo& cell, std::uint32_t) { cell.attributes = attribute; });
}

namespace {

struct Box {
    int left, top, right, bottom;
    bool Empty() const { return left > right || top > bottom; }
    bool Has(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

Box Intersect(const Box& a, const Box& b) {
    return Box{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
}

} // namespace

bool ScreenGrid::Scroll(const Rect& scroll, const Rect* clip, Coord destination,
                        const CharInfo& fill, Rect* changed) {
    const Box buffer{0, 0, width_ - 1, height_ - 1};
    Box source = Intersect(Box{scroll.Left, scroll.Top, scroll.Right, scroll.Bottom}, buffer);
    if (source.Empty())
        return false;
    Box limit = buffer;
    if (clip) {
        limit = Intersect(Box{clip->Left, clip->Top, clip->Right, clip->Bottom}, buffer);
        if (limit.Empty())
            return false;
    }

    // The offset is taken from the requested rectangle, as the console does,
    // so a source clipped by the buffer edge still lands where it would have.
    const int dx = destination.X - scroll.Left;
    const int dy = destination.Y - scroll.Top;
    const Box target{source.left + dx, source.top + dy, source.right + dx, source.bottom + dy};
    if (changed) {
        // Every changed cell lies in the source (vacated) or the target
        // (moved onto), and inside the clip.
        const Box span = Intersect(
            Box{std::min(source.left, target.left), std::min(source.top, target.top),
                std::max(source.right, target.right), std::max(source.bottom, target.bottom)},
            limit);
        *changed = span.Empty() ? Rect{0, 0, -1, -1}
                                : Rect{static_cast<std::int16_t>(span.left),
                                       static_cast<std::int16_t>(span.top),
                                       static_cast<std::int16_t>(span.right),
                                       static_cast<std::int16_t>(span.bottom)};
    }

    std::vector<CharInfo> moved;
    moved.reserve(static_cast<std::size_t>(source.right - source.left + 1) *
                  static_cast<std::size_t>(source.bottom - source.top + 1));
    for (int y = source.top; y <= source.bottom; ++y)
        for (int x = source.left; x <= source.right; ++x)
            moved.push_back(At(x, y));

    // Vacated cells first: those of the source that the moved block does not cover.
    for (int y = source.top; y <= source.bottom; ++y)
        for (int x = source.left; x <= source.right; ++x)
            if (limit.Has(x, y) && !target.Has(x, y))
                At(x, y) = fill;

    std::size_t i = 0;
    for (int y = target.top; y <= target.bottom; ++y)
        for (int x = target.left; x <= target.right; ++x, ++i)
            if (limit.Has(x, y))
                At(x, y) = moved[i];
    return true;
}

} // namespace port
