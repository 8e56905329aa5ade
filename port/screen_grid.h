// An in-memory console screen buffer: W x H cells of character and attribute,
// changed with the semantics of the Windows console's cell functions. The
// POSIX back end mirrors it to the terminal; the unit tests read it directly.
#pragma once

#include "port/types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace port {

class ScreenGrid {
  public:
    static constexpr std::uint16_t kDefaultAttribute = 7;

    // Every cell becomes a blank with the default attribute.
    void Reset(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Contains(Coord at) const;

    const CharInfo& At(int x, int y) const { return cells_[Index(x, y)]; }
    CharInfo& At(int x, int y) { return cells_[Index(x, y)]; }

    // The characters of one row, exactly as stored.
    std::string RowText(int y) const;

    // The cell functions. Each returns false, changing nothing, when the
    // request lies outside the buffer; the writes and fills otherwise return
    // the number of cells changed through *written, going on row after row and
    // stopping at the end of the buffer. Scroll reports through *changed the
    // smallest rectangle holding every cell it may have changed (the moved
    // block and the vacated cells, inside the clip); it is empty (Left >
    // Right) when no cell could change.
    bool Scroll(const Rect& scroll, const Rect* clip, Coord destination, const CharInfo& fill,
                Rect* changed = nullptr);
    bool Write(const char* text, std::uint32_t length, Coord start, std::uint32_t* written);
    bool FillCharacters(char character, std::uint32_t length, Coord start, std::uint32_t* written);
    bool FillAttributes(std::uint16_t attribute, std::uint32_t length, Coord start,
                        std::uint32_t* written);

  private:
    std::size_t Index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(x);
    }
    // Cells that a run of `length` cells from `start` may cover.
    std::uint32_t RunLength(Coord start, std::uint32_t length) const;
    // Calls change(cell, i) for the i-th cell of such a run.
    template <typename CellChange>
    bool ChangeRun(Coord start, std::uint32_t length, std::uint32_t* written, CellChange change);

    int width_ = 0;
    int height_ = 0;
    std::vector<CharInfo> cells_;
};

} // namespace port
