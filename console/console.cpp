#include "console/console.h"

#include "common/text.h"
#include "console/log_file.h"
#include "port/console.h"
#include "port/service.h"
#include "port/system.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

Console console;

Console::Console()
    : inputOrigin{}, inputCursor{}, logOrigin{}, scrollOrigin{}, logRect{}, clipRect{},
      outputHandle(port::kNullHandle), fill{}, insertMode(true), historyText{},
      timeFormat(kTimeStampFormat), maxLineLength(kMaxLineLength), historySize(kHistorySize),
      currentSlot(0), usedSlots(1), browseSlot(0),
      commandCount(0), historyLength{}, historyCursor{}, pendingEvents(0), inputRecord{},
      inputHandle(port::kNullHandle), logRows(), screenShown(false), logToStandardOutput(false),
      logFile(), logCaptures(), logSubject(0), lineFailed(false) {}

void SetUpConsole() {
    console.outputHandle = port::StdOutput();
    console.inputHandle = port::StdInput();

    port::Coord size{0, 0};
    port::GetScreenSize(console.outputHandle, &size);
    const std::int16_t w = size.X;
    const std::int16_t h = size.Y;

    port::SetInputMode(console.inputHandle, 28);

    console.inputOrigin = port::Coord{0, static_cast<std::int16_t>(h - 1)};
    console.inputCursor = console.inputOrigin;
    console.logOrigin = port::Coord{0, static_cast<std::int16_t>(h - 2)};
    console.scrollOrigin = port::Coord{0, -1};
    console.logRect =
        port::Rect{0, 0, static_cast<std::int16_t>(w - 1), static_cast<std::int16_t>(h - 2)};
    console.clipRect = console.logRect;
    console.fill = port::CharInfo{' ', 7};
    if (w > 0 && h > 1)
        console.logRows.assign(static_cast<std::size_t>(h - 1),
                               std::string(static_cast<std::size_t>(w), console.fill.character));
    console.screenShown = w >= kMinScreenWidth && h >= kMinScreenHeight;

    port::SetCursorPosition(console.outputHandle, console.inputCursor);

    port::CursorInfo cursor{0, true};
    if (port::GetCursorInfo(console.outputHandle, &cursor))
        console.insertMode = cursor.size != kOverwriteCursorSize;
}

void LogToStandardOutput() {
    console.logToStandardOutput = true;
}

int ScreenWidth() {
    return console.logRect.Right + 1;
}
int ScreenHeight() {
    return console.inputOrigin.Y + 1;
}

namespace {

// Where the text of each log entry is also collected (the commands of
// control clients being answered).

std::size_t LogWidth() {
    return static_cast<std::size_t>(console.logRect.Right + 1);
}

// One row up for the whole log area. False, after reporting on standard
// output, when the console refused.
bool ScrollLog() {
    if (console.screenShown &&
        !port::ScrollScreen(console.outputHandle, console.logRect, &console.clipRect,
                            console.scrollOrigin, console.fill)) {
        std::printf("ScrollConsoleScreenBuffer failed %d\n", static_cast<int>(port::LastError()));
        std::fflush(stdout);
        return false;
    }
    if (!console.logRows.empty()) {
        console.logRows.pop_front();
        console.logRows.emplace_back(LogWidth(), console.fill.character);
    }
    return true;
}

// Bytes into the newest log row from `column`.
void WriteAt(const char* bytes, std::size_t length, std::int16_t column) {
    if (console.screenShown)
        port::WriteCells(console.outputHandle, bytes, static_cast<std::uint32_t>(length),
                         port::Coord{column, console.logOrigin.Y}, &console.pendingEvents);
    if (console.logRows.empty())
        return;
    std::string& row = console.logRows.back();
    const std::size_t at = static_cast<std::size_t>(column);
    if (at < row.size())
        row.replace(at, std::min(length, row.size() - at), bytes,
                    std::min(length, row.size() - at));
}

// The entry on the screen: its stamp on the newest log row and its text
// beside it, wrapped over as many rows as it needs.
void ShowLogEntry(const char* stamp, std::size_t n, const std::string& text) {
    if (!ScrollLog())
        return;

    WriteAt(stamp, n, console.logOrigin.X);

    const std::size_t length = text.size();
    const std::int16_t column = static_cast<std::int16_t>(console.logOrigin.X + n + 1);
    const long width = static_cast<long>(console.logRect.Right) - static_cast<long>(n);
    if (width <= 0)
        return; // no room for text beside the stamp
    const std::size_t w = static_cast<std::size_t>(width);

    if (length <= w) {
        WriteAt(text.data(), length, column);
        return;
    }
    std::size_t done = 0;
    while (length - done > w) {
        WriteAt(text.data() + done, w, column);
        if (!ScrollLog())
            return;
        done += w;
    }
    WriteAt(text.data() + done, length - done, column);
}

} // namespace

void WriteLogLine(std::string text) {
    const std::string stamp = TimeStamp(console.timeFormat.c_str());
    if (console.logToStandardOutput) {
        const std::string line = LogFileLine(stamp, text);
        port::WriteStandardOutput(line.data(), static_cast<std::uint32_t>(line.size()));
    } else {
        ShowLogEntry(stamp.data(), stamp.size(), text);
    }
    for (const LogCapture& capture : console.logCaptures)
        if (capture.subjects == nullptr ||
            std::find(capture.subjects->begin(), capture.subjects->end(), console.logSubject) !=
                capture.subjects->end())
            capture.into->push_back(text);
    // Every entry passes here once, after the screen shows it.
    if (AppendLogEntry(console.logFile, stamp, text) == LogFileWrite::FirstFailure)
        PrintMessage("Could not write to log file %s!", console.logFile.path.c_str());
}

void CaptureLogEntries(std::vector<std::string>* into, const std::vector<std::uint64_t>* subjects) {
    console.logCaptures.push_back(LogCapture{into, subjects});
}

void StopCapturingLogEntries(std::vector<std::string>* into) {
    std::erase_if(console.logCaptures,
                  [into](const LogCapture& capture) { return capture.into == into; });
}

LogSubject::LogSubject(std::uint64_t subject) : before(console.logSubject) {
    console.logSubject = subject;
}

LogSubject::~LogSubject() {
    console.logSubject = before;
}

void PrintMessage(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    int result = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (result < 0)
        buffer[0] = '\0';
    buffer[sizeof buffer - 1] = '\0';
    WriteLogLine(std::string(buffer));
}

void ClsCommand(ArgReader*) {
    for (std::string& row : console.logRows)
        row.assign(row.size(), console.fill.character);
    if (!console.screenShown)
        return;
    const port::Rect& clip = console.clipRect;
    std::uint32_t count = static_cast<std::uint32_t>(clip.Right - clip.Left + 1) *
                          static_cast<std::uint32_t>(clip.Bottom - clip.Top + 1);
    port::Coord start{clip.Left, clip.Top};
    port::FillCellCharacters(console.outputHandle, console.fill.character, count, start,
                             &console.pendingEvents);
    port::FillCellAttributes(console.outputHandle, console.fill.attributes, count, start,
                             &console.pendingEvents);
}

bool ScreenShown() {
    return console.screenShown;
}

bool LayOutScreen() {
    port::Coord size{0, 0};
    if (!port::GetScreenSize(console.outputHandle, &size))
        return console.screenShown;
    const int w = size.X;
    const int h = size.Y;
    if (w < kMinScreenWidth || h < kMinScreenHeight) {
        console.screenShown = false;
        return false;
    }

    console.inputOrigin = port::Coord{0, static_cast<std::int16_t>(h - 1)};
    console.inputCursor.Y = console.inputOrigin.Y;
    console.logOrigin = port::Coord{0, static_cast<std::int16_t>(h - 2)};
    console.logRect =
        port::Rect{0, 0, static_cast<std::int16_t>(w - 1), static_cast<std::int16_t>(h - 2)};
    console.clipRect = console.logRect;

    // The newest rows, bottom-aligned, cut or padded to the new width.
    const std::size_t width = static_cast<std::size_t>(w);
    const std::size_t rows = static_cast<std::size_t>(h - 1);
    std::deque<std::string> kept;
    const std::size_t from = console.logRows.size() > rows ? console.logRows.size() - rows : 0;
    for (std::size_t i = from; i < console.logRows.size(); ++i) {
        kept.push_back(std::move(console.logRows[i]));
        kept.back().resize(width, console.fill.character);
    }
    while (kept.size() < rows)
        kept.emplace_front(width, console.fill.character);
    console.logRows = std::move(kept);
    console.screenShown = true;

    // The whole screen anew: what a resized console buffer holds is not ours.
    std::string cells;
    cells.reserve(width * rows);
    for (const std::string& row : console.logRows)
        cells += row;
    const std::uint32_t all = static_cast<std::uint32_t>(width * (rows + 1));
    port::FillCellAttributes(console.outputHandle, console.fill.attributes, all, port::Coord{0, 0},
                             &console.pendingEvents);
    port::WriteCells(console.outputHandle, cells.data(), static_cast<std::uint32_t>(cells.size()),
                     port::Coord{0, 0}, &console.pendingEvents);
    port::FillCellCharacters(console.outputHandle, console.fill.character,
                             static_cast<std::uint32_t>(width), console.inputOrigin,
                             &console.pendingEvents);
    return true;
}
