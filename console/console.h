// The console front end: the screen split into a scrolling, time-stamped log
// area and a one-row input line, the command table and the input line's state.
#pragma once

#include "port/types.h"

#include <cstdint>
#include <string>

class ArgReader;

using CommandHandler = void (*)(ArgReader* args);

struct ConsoleCommand {
    CommandHandler handler = nullptr;
    std::string name;
    std::string description;
};

inline constexpr int kCommandRows = 512;
inline constexpr int kHistorySize = 128;
inline constexpr int kMaxLineLength = 256;

// The cursor sizes, in percent of a cell, of the two typing modes.
inline constexpr std::uint32_t kInsertCursorSize = 19;
inline constexpr std::uint32_t kOverwriteCursorSize = 99;

// Log area: rows 0 to H-2; the newest log row is H-2; the input line is H-1.
struct Console {
    Console();

    ConsoleCommand commands[kCommandRows];
    port::Coord inputOrigin;
    port::Coord inputCursor;
    port::Coord logOrigin;
    port::Coord scrollOrigin;
    port::Rect logRect;
    port::Rect clipRect;
    port::Handle outputHandle;
    port::CharInfo fill;
    bool insertMode;
    char historyText[kHistorySize][kMaxLineLength];
    std::string timeFormat;
    std::int32_t maxLineLength;
    std::int32_t historySize;
    std::int32_t currentSlot;
    std::int32_t usedSlots;
    std::int32_t browseSlot;
    std::int32_t commandCount;
    std::int32_t historyLength[kHistorySize];
    std::int32_t historyCursor[kHistorySize];
    std::uint32_t pendingEvents;
    port::InputRecord inputRecord;
    port::Handle inputHandle;
};

extern Console console;

// One log entry from a printf-style format; text past 255 bytes is cut off.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void PrintMessage(const char* format, ...);

// One log entry from a ready-made string, wrapped over as many rows as it needs.
void WriteLogLine(std::string text);

// The "cls" command: blanks the log area, leaving the input line alone.
void ClsCommand(ArgReader* args);

// The smallest screen the layout works in: a time stamp, a blank and one
// character of text per row, and a log row above the input line.
inline constexpr int kMinScreenWidth = 21;
inline constexpr int kMinScreenHeight = 2;

// The width and height of the screen as read when the console was set up.
int ScreenWidth();
int ScreenHeight();
