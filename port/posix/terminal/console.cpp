// The port's console functions on a terminal: a cell grid of the terminal's
// size, changed with the console's semantics and mirrored to the terminal by
// the VT writer; key records from the input collection; the terminal's size
// followed through SIGWINCH, which arrives as a buffer-size record.
//
// The jobs around it have files of their own: terminal_signals (restore at
// exit and on signals, the size-change signal), vt_writer (grid changes to
// bytes), console_input (reading and stamping the terminal's bytes) and
// key_decoder (bytes to key events).
//
// The state (console_state.h) is never destroyed: the exit handlers may
// still write to the terminal during static destruction.
#include "port/console.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/terminal/console_input.h"
#include "port/posix/terminal/console_state.h"
#include "port/posix/terminal/terminal_signals.h"
#include "port/posix/terminal/vt_writer.h"
#include "port/posix/unique_fd.h"
#include "port/screen_grid.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace port {

using posix::ConsoleState;
using posix::State;

namespace {

// Reads the terminal's size into the grid (all cells blank). False when the
// terminal does not tell.
bool ReadScreenSize(ConsoleState& s) {
    struct winsize size {};
    if (::ioctl(s.output, TIOCGWINSZ, &size) != 0)
        return false;
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
    return true;
}

} // namespace

namespace posix {

ConsoleState& State() {
    static ConsoleState* state = new ConsoleState;
    return *state;
}

void OpenConsole(ConsoleState& s, int input, int output) {
    s.initialised = true;
    s.available = ::isatty(input) == 1 && ::isatty(output) == 1;
    if (!s.available)
        return;
    UniqueFd inputCopy(::fcntl(input, F_DUPFD_CLOEXEC, 3));
    UniqueFd outputCopy(::fcntl(output, F_DUPFD_CLOEXEC, 3));
    if (!inputCopy || !outputCopy) {
        s.available = false;
        return;
    }
    // Held for as long as the program runs.
    s.input = inputCopy.Release();
    s.output = outputCopy.Release();
    s.keys.Attach(s.input);
    ReadScreenSize(s);
}

} // namespace posix

namespace {

ConsoleState& Init() {
    ConsoleState& s = State();
    if (!s.initialised)
        posix::OpenConsole(s, 0, 1);
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
        const ssize_t n = posix::WriteNoIntr(fd, data, length);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                struct pollfd p {
                    fd, POLLOUT, 0
                };
                if (posix::PollNoIntr(&p, 1, 1000) > 0)
                    continue;
            }
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// From now on the terminal is restored when the program ends.
void Arm(ConsoleState& s) {
    posix::ArmTerminalRestore(s.input, s.output, s.grid.Height());
}

// Ends an operation (default attributes, the cursor back where it was put)
// and sends its bytes in one write.
void Emit(ConsoleState& s, posix::VtOut& out) {
    posix::AppendFinish(out, s.cursorPlaced ? &s.cursor : nullptr);
    Arm(s);
    WriteAll(s.output, out.bytes.data(), out.bytes.size());
}

// A size change was signalled: the grid takes the terminal's new size, blank,
// and so does the terminal; a buffer-size record waits for the core, which
// lays its screen out anew.
void FollowSizeChange(ConsoleState& s) {
    if (!posix::TakeSizeChange() || !s.sized)
        return;
    if (!ReadScreenSize(s))
        return;
    s.cursor.X = static_cast<std::int16_t>(std::min<int>(s.cursor.X, s.grid.Width() - 1));
    s.cursor.Y = static_cast<std::int16_t>(std::min<int>(s.cursor.Y, s.grid.Height() - 1));
    posix::SetRestoreRow(s.grid.Height());
    if (posix::TerminalRestoreArmed()) {
        posix::VtOut out;
        posix::AppendClear(out);
        Emit(s, out);
    }
    s.sizeRecordWaiting = true;
}

// Everything that came in for the core: a size change, and the keys.
void Gather(ConsoleState& s) {
    FollowSizeChange(s);
    if (!s.keys.Collect())
        posix::TerminalGone();
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
    posix::RestoreTerminal();
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
    if (!posix::SaveTerminalMode(s.input)) {
        posix::SetError(errno);
        return false;
    }
    struct termios raw = *posix::SavedTerminalMode();
    // Backspace is what the terminal is set to send for it (stty erase).
    s.keys.Decoder().SetEraseByte(raw.c_cc[VERASE]);
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
    Arm(s);
    if (::tcsetattr(s.input, TCSANOW, &raw) != 0) {
        posix::SetError(errno);
        return false;
    }
    // Window input (8): size changes arrive as buffer-size records.
    if (mode & 8u)
        posix::WatchSizeChanges();
    if (!(mode & 2u))
        s.keys.StartCollecting();
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
    posix::VtOut out;
    Emit(s, out);
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
    posix::VtOut out;
    posix::AppendCursorShape(out, info);
    Arm(s);
    WriteAll(s.output, out.bytes.data(), out.bytes.size());
    return true;
}

bool ScrollScreen(Handle output, const Rect& scroll, const Rect* clip, Coord destination,
                  const CharInfo& fill) {
    if (!CheckOutput(output))
        return false;
    ConsoleState& s = State();
    Rect changed{};
    if (!s.grid.Scroll(scroll, clip, destination, fill, &changed)) {
        posix::SetError(EINVAL);
        return false;
    }
    posix::VtOut out;
    posix::AppendScroll(out, s.grid, changed, destination.X - scroll.Left,
                        destination.Y - scroll.Top);
    Emit(s, out);
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
    posix::VtOut out;
    posix::AppendRun(out, s.grid, start, count);
    Emit(s, out);
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
    Gather(s);
    *count = static_cast<std::uint32_t>(s.keys.Decoder().Count()) + (s.sizeRecordWaiting ? 1 : 0);
    return true;
}

bool ReadInputRecord(Handle input, InputRecord* record, std::uint32_t* read) {
    if (!CheckInput(input))
        return false;
    ConsoleState& s = State();
    if (!s.sizeRecordWaiting && s.keys.Decoder().Empty())
        Gather(s);
    *record = InputRecord{};
    if (s.sizeRecordWaiting) {
        s.sizeRecordWaiting = false;
        record->eventType = kWindowBufferSizeEventType;
        record->bufferSize.size = Coord{static_cast<std::int16_t>(s.grid.Width()),
                                        static_cast<std::int16_t>(s.grid.Height())};
        *read = 1;
        return true;
    }
    if (s.keys.Decoder().Empty()) {
        *read = 0;
        return true;
    }
    record->eventType = kKeyEventType;
    record->key = s.keys.Decoder().Pop();
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

bool ConsoleInputWaiting() {
    ConsoleState& s = State();
    return s.keys.Waiting() || s.sizeRecordWaiting || SizeChangePending();
}

void AppendConsolePollFds(std::vector<pollfd>& fds) {
    if (SizeChangeFd() >= 0)
        fds.push_back(pollfd{SizeChangeFd(), POLLIN, 0});
}

bool SleepWatchingConsole(std::uint32_t milliseconds) {
    ConsoleState& s = State();
    if (!s.initialised || !s.available || !s.keys.Collecting())
        return false;
    s.keys.SleepCollecting(milliseconds);
    return true;
}

void WriteTitle(const char* title) {
    ConsoleState& s = Init();
    if (!s.available)
        return;
    VtOut out;
    AppendTitle(out, title);
    WriteAll(s.output, out.bytes.data(), out.bytes.size());
}

} // namespace posix

} // namespace port
