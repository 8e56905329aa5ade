// Windows virtual-key codes used by the input line editor. Every back end
// reports keys with these codes, whatever the terminal sends.
#pragma once

#include <cstdint>

namespace port {

inline constexpr std::uint16_t kVkBack = 8;
inline constexpr std::uint16_t kVkTab = 9;
inline constexpr std::uint16_t kVkReturn = 13;
inline constexpr std::uint16_t kVkShift = 16;
inline constexpr std::uint16_t kVkControl = 17;
inline constexpr std::uint16_t kVkMenu = 18;
inline constexpr std::uint16_t kVkEscape = 27;
inline constexpr std::uint16_t kVkSpace = 32;
inline constexpr std::uint16_t kVkPrior = 33; // Page Up
inline constexpr std::uint16_t kVkNext = 34;  // Page Down
inline constexpr std::uint16_t kVkEnd = 35;
inline constexpr std::uint16_t kVkHome = 36;
inline constexpr std::uint16_t kVkLeft = 37;
inline constexpr std::uint16_t kVkUp = 38;
inline constexpr std::uint16_t kVkRight = 39;
inline constexpr std::uint16_t kVkDown = 40;
inline constexpr std::uint16_t kVkInsert = 45;
inline constexpr std::uint16_t kVkDelete = 46;
inline constexpr std::uint16_t kVkF1 = 112;        // F2..F12 follow
inline constexpr std::uint16_t kVkOem1 = 186;      // ; :
inline constexpr std::uint16_t kVkOemPlus = 187;   // = +
inline constexpr std::uint16_t kVkOemComma = 188;  // , <
inline constexpr std::uint16_t kVkOemMinus = 189;  // - _
inline constexpr std::uint16_t kVkOemPeriod = 190; // . >
inline constexpr std::uint16_t kVkOem2 = 191;      // / ?
inline constexpr std::uint16_t kVkOem3 = 192;      // ` ~
inline constexpr std::uint16_t kVkOem4 = 219;      // [ {
inline constexpr std::uint16_t kVkOem5 = 220;      // \ |
inline constexpr std::uint16_t kVkOem6 = 221;      // ] }
inline constexpr std::uint16_t kVkOem7 = 222;      // ' "

} // namespace port
