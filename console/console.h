// The console front end: the screen split into a scrolling, time-stamped log
// area and a one-row input line, the command table and the input line's state.
#pragma once

#include "console/log_file.h"

#include "port/types.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

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
// The object is built during static initialisation without touching the
// console; SetUpConsole, the manager's first step, takes the console over.
// A client run of the program (--send, --status) leaves the terminal alone.
// Where log entries are collected besides the screen (the answer to a
// control client), and which of them: every one, or with `subjects` only
// those about one of these.
struct LogCapture {
    std::vector<std::string>* into = nullptr;
    const std::vector<std::uint64_t>* subjects = nullptr;
};

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

    // The log area's rows as they stand on the screen, oldest first, each
    // logRect.Right + 1 wide: what a new layout keeps when the screen's size
    // changes.
    std::deque<std::string> logRows;
    // False while the screen is smaller than kMinScreenWidth x
    // kMinScreenHeight: nothing is drawn, the log goes on in logRows.
    bool screenShown;
    // Without a console (headless) every entry is a line on standard output.
    bool logToStandardOutput;
    // The copy of every entry in a file ([General] LogFile), and where else
    // entries are collected meanwhile (the answer to a control client).
    LogFile logFile;
    std::vector<LogCapture> logCaptures;
    // What the entries written now are about (an application's serial), or
    // 0: set by LogSubject.
    std::uint64_t logSubject;
    // The line being run did not do what it asked (FailCommand).
    bool lineFailed;
};

extern Console console;

// Takes the standard handles, sets the input mode, reads the screen size,
// lays out the log area and the input line and puts the cursor on it.
void SetUpConsole();

// Without a console: every log entry becomes one line on standard output
// (stamp, blank, text with control bytes as in the log file), written as it
// comes; nothing else of the console is used.
void LogToStandardOutput();

// One log entry from a printf-style format; text past 255 bytes is cut off.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void PrintMessage(const char* format, ...);

// One log entry from a ready-made string, wrapped over as many rows as it needs.
void WriteLogLine(std::string text);

// From now on, until StopCapturingLogEntries(into), the text of every log
// entry written is also appended to `into` (a control client's command
// collects what it wrote).
// With `subjects`, only the entries written about one of them (see
// LogSubject) are collected; the vector must outlive the capture.
void CaptureLogEntries(std::vector<std::string>* into,
                       const std::vector<std::uint64_t>* subjects = nullptr);
void StopCapturingLogEntries(std::vector<std::string>* into);

// For as long as it lives, the entries written are about `subject` (0:
// nothing in particular); the subject before it comes back at its end.
class LogSubject {
  public:
    explicit LogSubject(std::uint64_t subject);
    ~LogSubject();
    LogSubject(const LogSubject&) = delete;
    LogSubject& operator=(const LogSubject&) = delete;

  private:
    std::uint64_t before;
};

// The "cls" command: blanks the log area, leaving the input line alone.
void ClsCommand(ArgReader* args);

// The smallest screen the layout works in: a time stamp, a blank and one
// character of text per row, and a log row above the input line.
inline constexpr int kMinScreenWidth = 21;
inline constexpr int kMinScreenHeight = 2;

// The width and height of the screen the console is laid out on: as read
// when the console was set up, or at the last change of its size that left
// it large enough.
int ScreenWidth();
int ScreenHeight();

// The screen's size changed (a buffer-size record): reads the new size and
// lays the console out on it. The input line's limit follows (W-2, 255 at
// most); the newest log rows are kept, bottom-aligned, each cut or padded to
// the new width, and the whole log area and the input row are drawn anew
// (the input line's text is the line editor's to draw). Below
// kMinScreenWidth x kMinScreenHeight nothing is drawn and the layout stays as
// it was until the screen is large enough again. Returns ScreenShown().
bool LayOutScreen();

// False while the screen is too small to draw anything.
bool ScreenShown();
