// The console on a terminal: a cell grid of the terminal's size, mirrored to
// the terminal with VT sequences, and key records decoded from the bytes the
// terminal sends.
//
// The core's Console is built during static initialisation and calls these
// functions then, so every piece of state here is either constant-initialised
// plain data or a function-local static that is never destroyed.
#include "port/console.h"

#include "port/posix/backend.h"
#include "port/posix/key_decoder.h"
#include "port/posix/test_hooks.h"
#include "port/screen_grid.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace port {

namespace {

// How long the rest of an escape sequence may take to arrive.
constexpr int kEscapeWaitMs = 25;

// The cursor size a terminal starts with, as a Windows console reports it.
constexpr std::uint32_t kInitialCursorSize = 25;

constexpr std::uint16_t kUnknownAttribute = 0xFFFF;

struct ConsoleState {
    bool initialised = false;
    bool available = false;
    int input = -1;  // the console input handle: a close-on-exec duplicate of fd 0
    int output = -1; // the console output handle: a close-on-exec duplicate of fd 1
    bool sized = false;
    ScreenGrid grid;
    Coord cursor{0, 0};
    bool cursorPlaced = false;
    CursorInfo cursorInfo{kInitialCursorSize, true};
    posix::KeyDecoder decoder;
};

ConsoleState& State() {
    static ConsoleState* state = new ConsoleState;
    return *state;
}

// What restoring the terminal takes, readable from a signal handler: plain
// data, constant-initialised, filled in before `armed` is set.
struct RestoreData {
    volatile std::sig_atomic_t armed;
    int terminal;     // descriptor for tcsetattr, or -1
    bool haveTermios; // `saved` holds the mode to restore
    struct termios saved;
    int output; // descriptor for the restore sequence
    char sequence[96];
    std::size_t length;
};

RestoreData restoreData;
bool handlersInstalled = false;

void RestoreTerminal() {
    if (!restoreData.armed)
        return;
    restoreData.armed = 0;
    if (restoreData.haveTermios && restoreData.terminal >= 0)
        ::tcsetattr(restoreData.terminal, TCSANOW, &restoreData.saved);
    if (restoreData.output >= 0 && restoreData.length > 0) {
        const char* p = restoreData.sequence;
        std::size_t left = restoreData.length;
        while (left > 0) {
            ssize_t n = ::write(restoreData.output, p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
}

void RestoreAtExit() {
    RestoreTerminal();
}

void OnTerminatingSignal(int signal) {
    const int saved = errno;
    RestoreTerminal();
    errno = saved;
    // SA_RESETHAND gave the signal its default disposition again; it is
    // blocked while this handler runs and ends the process on return.
    ::raise(signal);
}

void InstallHandlers() {
    if (handlersInstalled)
        return;
    handlersInstalled = true;
    std::atexit(RestoreAtExit);
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue; // an ignored signal (nohup) stays ignored
        struct sigaction action {};
        action.sa_handler = OnTerminatingSignal;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(signal, &action, nullptr);
    }
}

// From now on the terminal is restored when the program ends.
void Arm() {
    ConsoleState& s = State();
    if (restoreData.armed)
        return;
    restoreData.terminal = s.input;
    restoreData.output = s.output;
    const int lastRow = s.grid.Height() > 0 ? s.grid.Height() : 1;
    int n = std::snprintf(restoreData.sequence, sizeof restoreData.sequence,
                          "\x1b[0m\x1b[r\x1b[0 q\x1b[?25h\x1b[%d;1H\x1b[2K", lastRow);
    restoreData.length = n > 0 ? static_cast<std::size_t>(n) : 0;
    InstallHandlers();
    restoreData.armed = 1;
}

// The terminal is gone (end of file or EIO): end as a hang-up would.
[[noreturn]] void TerminalGone() {
    RestoreTerminal();
    ::signal(SIGHUP, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(SIGHUP);
    ::_exit(0);
}

void ReadScreenSize(ConsoleState& s) {
    struct winsize size {};
    if (::ioctl(s.output, TIOCGWINSZ, &size) != 0)
        return;
    int width = size.ws_col;
    int height = size.ws_row;
    if (width == 0 || height == 0) { // a terminal that does not know its size
        width = 80;
        height = 24;
    }
    width = std::min(width, 32767);
    height = std::min(height, 32767);
    s.grid.Reset(width, height);
    s.sized = true;
}

void Open(ConsoleState& s, int input, int output) {
    s.initialised = true;
    s.available = ::isatty(input) == 1 && ::isatty(output) == 1;
    if (!s.available)
        return;
    s.input = ::fcntl(input, F_DUPFD_CLOEXEC, 3);
    s.output = ::fcntl(output, F_DUPFD_CLOEXEC, 3);
    if (s.input < 0 || s.output < 0) {
        if (s.input >= 0)
            ::close(s.input);
        if (s.output >= 0)
            ::close(s.output);
        s.input = s.output = -1;
        s.available = false;
        return;
    }
    ReadScreenSize(s);
}

ConsoleState& Init() {
    ConsoleState& s = State();
    if (!s.initialised)
        Open(s, 0, 1);
    return s;
}

// True when the console is available and `handle` is its descriptor `expected`.
bool CheckHandle(Handle handle, int ConsoleState::*expected) {
    ConsoleState& s = Init();
    if (!s.available) {
        posix::SetError(ENOTTY);
        return false;
    }
    if (handle != s.*expected) {
        posix::SetError(EBADF);
        return false;
    }
    return true;
}

bool CheckOutput(Handle handle) {
    return CheckHandle(handle, &ConsoleState::output);
}

bool CheckInput(Handle handle) {
    return CheckHandle(handle, &ConsoleState::input);
}

bool WriteAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                struct pollfd p {
                    fd, POLLOUT, 0
                };
                if (::poll(&p, 1, 1000) > 0)
                    continue;
            }
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// --- VT output -------------------------------------------------------------

void AppendNumber(std::string& out, int value) {
    out += std::to_string(value);
}

void AppendMove(std::string& out, int x, int y) {
    out += "\x1b[";
    AppendNumber(out, y + 1);
    out += ';';
    AppendNumber(out, x + 1);
    out += 'H';
}

// Windows colour bits (blue 1, green 2, red 4) to ANSI (red 1, green 2, blue 4).
int AnsiColour(int bits) {
    return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2);
}

void AppendAttribute(std::string& out, std::uint16_t attribute) {
    if (attribute == ScreenGrid::kDefaultAttribute) {
        out += "\x1b[0m";
        return;
    }
    const int foreground = attribute & 0x0F;
    const int background = (attribute >> 4) & 0x0F;
    out += "\x1b[0;";
    AppendNumber(out, (foreground & 8 ? 90 : 30) + AnsiColour(foreground & 7));
    out += ';';
    if (background == 0)
        out += "49"; // black: the terminal's own background
    else
        AppendNumber(out, (background & 8 ? 100 : 40) + AnsiColour(background & 7));
    if (attribute & 0x4000) // COMMON_LVB_REVERSE_VIDEO
        out += ";7";
    if (attribute & 0x8000) // COMMON_LVB_UNDERSCORE
        out += ";4";
    out += 'm';
}

// One column per cell; control bytes never reach the terminal.
void AppendGlyph(std::string& out, char character) {
    const unsigned char c = static_cast<unsigned char>(character);
    if (c < 32 || c == 127 || (c >= 128 && c < 160)) {
        out += '?';
    } else if (c >= 160) { // Latin-1, as UTF-8
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(c);
    }
}

// Paints cells [x0, x1] of row y from the grid, positioned explicitly.
void AppendRow(std::string& out, const ScreenGrid& grid, int y, int x0, int x1,
               std::uint16_t& current) {
    if (x0 > x1)
        return;
    AppendMove(out, x0, y);
    for (int x = x0; x <= x1; ++x) {
        const CharInfo& cell = grid.At(x, y);
        if (cell.attributes != current) {
            AppendAttribute(out, cell.attributes);
            current = cell.attributes;
        }
        AppendGlyph(out, cell.character);
    }
}

// Paints `count` cells from `start`, row after row.
void AppendRun(std::string& out, const ScreenGrid& grid, Coord start, std::uint32_t count,
               std::uint16_t& current) {
    int x = start.X;
    int y = start.Y;
    const int width = grid.Width();
    while (count > 0 && y < grid.Height()) {
        const int last = static_cast<int>(std::min<std::uint32_t>(
                             static_cast<std::uint32_t>(width - x), count)) +
                         x - 1;
        AppendRow(out, grid, y, x, last, current);
        count -= static_cast<std::uint32_t>(last - x + 1);
        x = 0;
        ++y;
    }
}

// Ends an operation: default attributes, the cursor back where it was put;
// then one write.
void Emit(std::string& out, std::uint16_t current) {
    ConsoleState& s = State();
    if (current != kUnknownAttribute && current != ScreenGrid::kDefaultAttribute)
        out += "\x1b[0m";
    if (s.cursorPlaced)
        AppendMove(out, s.cursor.X, s.cursor.Y);
    Arm();
    WriteAll(s.output, out.data(), out.size());
}

// --- input -------------------------------------------------------------------

// Reads the bytes the terminal has waiting into the decoder. False when the
// terminal is gone.
bool ReadWaiting(ConsoleState& s) {
    char buffer[4096];
    int available = 0;
    if (::ioctl(s.input, FIONREAD, &available) != 0)
        available = 0;
    if (available == 0) {
        // Nothing counted: either nothing arrived, or end of file / hang-up.
        struct pollfd p {
            s.input, POLLIN, 0
        };
        int r = ::poll(&p, 1, 0);
        if (r <= 0)
            return true;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            return false;
        if (!(p.revents & POLLIN))
            return true;
        ssize_t n = ::read(s.input, buffer, sizeof buffer);
        if (n > 0) {
            s.decoder.Feed(buffer, static_cast<std::size_t>(n));
            return true;
        }
        return n < 0 && (errno == EINTR || errno == EAGAIN);
    }
    while (available > 0) {
        const std::size_t want =
            std::min<std::size_t>(sizeof buffer, static_cast<std::size_t>(available));
        ssize_t n = ::read(s.input, buffer, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN;
        if (n == 0)
            return false;
        s.decoder.Feed(buffer, static_cast<std::size_t>(n));
        available -= static_cast<int>(n);
    }
    return true;
}

long long NowMs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reads what waits; when that ends inside an escape sequence, waits briefly
// for the rest, then settles it (a lone ESC is Escape).
void Collect(ConsoleState& s) {
    if (!ReadWaiting(s))
        TerminalGone();
    const long long deadline = NowMs() + kEscapeWaitMs;
    while (s.decoder.InSequence()) {
        const long long left = deadline - NowMs();
        if (left <= 0)
            break;
        struct pollfd p {
            s.input, POLLIN, 0
        };
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        if (!ReadWaiting(s))
            TerminalGone();
    }
    if (s.decoder.InSequence())
        s.decoder.Flush();
}

} // namespace

bool ConsoleAvailable() {
    return Init().available;
}

Handle StdOutput() {
    ConsoleState& s = Init();
    if (!s.available) {
        posix::SetError(ENOTTY);
        return kNullHandle;
    }
    return s.output;
}

Handle StdInput() {
    ConsoleState& s = Init();
    if (!s.available) {
        posix::SetError(ENOTTY);
        return kNullHandle;
    }
    return s.input;
}

void RestoreConsole() {
    RestoreTerminal();
}

bool GetScreenSize(Handle output, Coord* size) {
    if (!CheckOutput(output))
        return false;
    ConsoleState& s = State();
    if (!s.sized) {
        posix::SetError(ENOTTY);
        return false;
    }
    size->X = static_cast<std::int16_t>(s.grid.Width());
    size->Y = static_cast<std::int16_t>(s.grid.Height());
    return true;
}

bool SetInputMode(Handle input, std::uint32_t mode) {
    if (!CheckInput(input))
        return false;
    ConsoleState& s = State();
    if (!restoreData.haveTermios) {
        if (::tcgetattr(s.input, &restoreData.saved) != 0) {
            posix::SetError(errno);
            return false;
        }
        restoreData.haveTermios = true;
    }
    struct termios raw = restoreData.saved;
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    // The Windows bits: processed input (1) lets keys raise signals, line
    // input (2) edits lines with echo. The manager asks for neither.
    if (mode & 1u)
        raw.c_lflag |= ISIG;
    if (mode & 2u)
        raw.c_lflag |= ICANON | ECHO;
    raw.c_cflag |= CS8;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    Arm();
    if (::tcsetattr(s.input, TCSANOW, &raw) != 0) {
        posix::SetError(errno);
        return false;
    }
    return true;
}

bool SetCursorPosition(Handle output, Coord position) {
    if (!CheckOutput(output))
        return false;
    ConsoleState& s = State();
    if (!s.grid.Contains(position)) {
        posix::SetError(EINVAL);
        return false;
    }
    s.cursor = position;
    s.cursorPlaced = true;
    std::string out;
    Emit(out, kUnknownAttribute);
    return true;
}

bool GetCursorInfo(Handle output, CursorInfo* info) {
    if (!CheckOutput(output))
        return false;
    *info = State().cursorInfo;
    return true;
}

bool SetCursorInfo(Handle output, const CursorInfo& info) {
    if (!CheckOutput(output))
        return false;
    if (info.size < 1 || info.size > 100) {
        posix::SetError(EINVAL);
        return false;
    }
    ConsoleState& s = State();
    s.cursorInfo = info;
    std::string out = info.size >= 50 ? "\x1b[2 q" : "\x1b[4 q";
    out += info.visible ? "\x1b[?25h" : "\x1b[?25l";
    Arm();
    WriteAll(s.output, out.data(), out.size());
    return true;
}

bool ScrollScreen(Handle output, const Rect& scroll, const Rect* clip, Coord destination,
                  const CharInfo& fill) {
    if (!CheckOutput(output))
        return false;
    ConsoleState& s = State();
    ScreenGrid& grid = s.grid;
    if (!grid.Scroll(scroll, clip, destination, fill)) {
        posix::SetError(EINVAL);
        return false;
    }
    const int width = grid.Width();
    const int height = grid.Height();
    // Source and clip as the grid used them (inside the buffer).
    const int sLeft = std::max<int>(scroll.Left, 0), sTop = std::max<int>(scroll.Top, 0);
    const int sRight = std::min<int>(scroll.Right, width - 1);
    const int sBottom = std::min<int>(scroll.Bottom, height - 1);
    int lLeft = 0, lTop = 0, lRight = width - 1, lBottom = height - 1;
    if (clip) {
        lLeft = std::max<int>(clip->Left, 0);
        lTop = std::max<int>(clip->Top, 0);
        lRight = std::min<int>(clip->Right, width - 1);
        lBottom = std::min<int>(clip->Bottom, height - 1);
    }
    const int dx = destination.X - scroll.Left;
    const int dy = destination.Y - scroll.Top;

    std::string out;
    std::uint16_t current = kUnknownAttribute;
    if (dx == 0 && dy < 0 && lLeft == 0 && lRight == width - 1 && sLeft == 0 &&
        sRight == width - 1) {
        // Whole rows move up: let the terminal scroll the region, so that
        // what it showed scrolls as a console buffer does; then paint the
        // vacated rows.
        const int n = -dy;
        const int top = std::max(lTop, sTop + dy);
        const int bottom = std::min(lBottom, sBottom);
        if (bottom > top && bottom - top + 1 > n) {
            out += "\x1b[";
            AppendNumber(out, top + 1);
            out += ';';
            AppendNumber(out, bottom + 1);
            out += "r\x1b[";
            AppendNumber(out, n);
            out += "S\x1b[r";
            for (int y = bottom - n + 1; y <= bottom; ++y)
                AppendRow(out, grid, y, 0, width - 1, current);
            Emit(out, current);
            return true;
        }
    }
    // Anything else: repaint the rows the move may have changed.
    const int tLeft = sLeft + dx, tTop = sTop + dy, tRight = sRight + dx, tBottom = sBottom + dy;
    const int x0 = std::max(lLeft, std::min(sLeft, tLeft));
    const int x1 = std::min(lRight, std::max(sRight, tRight));
    const int y0 = std::max(lTop, std::min(sTop, tTop));
    const int y1 = std::min(lBottom, std::max(sBottom, tBottom));
    for (int y = y0; y <= y1; ++y)
        AppendRow(out, grid, y, x0, x1, current);
    Emit(out, current);
    return true;
}

namespace {

// Applies one run operation of the grid and mirrors the cells it changed.
template <typename GridOperation>
bool ChangeRun(Handle output, Coord start, std::uint32_t* written, GridOperation operation) {
    if (!CheckOutput(output))
        return false;
    ConsoleState& s = State();
    std::uint32_t count = 0;
    if (!operation(s.grid, &count)) {
        posix::SetError(EINVAL);
        return false;
    }
    if (written)
        *written = count;
    std::string out;
    std::uint16_t current = kUnknownAttribute;
    AppendRun(out, s.grid, start, count, current);
    Emit(out, current);
    return true;
}

} // namespace

bool WriteCells(Handle output, const char* text, std::uint32_t length, Coord start,
                std::uint32_t* written) {
    return ChangeRun(output, start, written, [&](ScreenGrid& grid, std::uint32_t* count) {
        return grid.Write(text, length, start, count);
    });
}

bool FillCellCharacters(Handle output, char character, std::uint32_t length, Coord start,
                        std::uint32_t* written) {
    return ChangeRun(output, start, written, [&](ScreenGrid& grid, std::uint32_t* count) {
        return grid.FillCharacters(character, length, start, count);
    });
}

bool FillCellAttributes(Handle output, std::uint16_t attribute, std::uint32_t length, Coord start,
                        std::uint32_t* written) {
    return ChangeRun(output, start, written, [&](ScreenGrid& grid, std::uint32_t* count) {
        return grid.FillAttributes(attribute, length, start, count);
    });
}

bool CountInputEvents(Handle input, std::uint32_t* count) {
    if (!CheckInput(input))
        return false;
    ConsoleState& s = State();
    Collect(s);
    *count = static_cast<std::uint32_t>(s.decoder.Count());
    return true;
}

bool ReadInputRecord(Handle input, InputRecord* record, std::uint32_t* read) {
    if (!CheckInput(input))
        return false;
    ConsoleState& s = State();
    if (s.decoder.Empty())
        Collect(s);
    if (s.decoder.Empty()) {
        *read = 0;
        return true;
    }
    record->eventType = kKeyEventType;
    record->key = s.decoder.Pop();
    *read = 1;
    return true;
}

namespace posix {

bool IsConsoleInput(Handle handle) {
    const ConsoleState& s = State();
    return s.initialised && s.available && handle == s.input;
}

bool IsConsoleHandle(Handle handle) {
    const ConsoleState& s = State();
    return s.initialised && s.available && (handle == s.input || handle == s.output);
}

bool ConsoleKeysWaiting() {
    return !State().decoder.Empty();
}

void WriteTitle(const char* title) {
    ConsoleState& s = Init();
    if (!s.available)
        return;
    std::string out = "\x1b]0;";
    for (const char* p = title; *p; ++p)
        AppendGlyph(out, *p);
    out += '\x07';
    WriteAll(s.output, out.data(), out.size());
}

void AttachConsoleForTesting(int input, int output) {
    DetachConsoleForTesting();
    Open(State(), input, output);
}

void DetachConsoleForTesting() {
    RestoreTerminal();
    restoreData.haveTermios = false;
    restoreData.terminal = -1;
    restoreData.output = -1;
    restoreData.length = 0;
    ConsoleState& s = State();
    if (s.input >= 0)
        ::close(s.input);
    if (s.output >= 0)
        ::close(s.output);
    s.initialised = false;
    s.available = false;
    s.input = s.output = -1;
    s.sized = false;
    s.grid.Reset(0, 0);
    s.cursor = Coord{0, 0};
    s.cursorPlaced = false;
    s.cursorInfo = CursorInfo{kInitialCursorSize, true};
    s.decoder.Clear();
}

const ScreenGrid& ConsoleGridForTesting() {
    return State().grid;
}

} // namespace posix

} // namespace port
