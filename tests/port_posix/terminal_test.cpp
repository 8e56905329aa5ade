// The console functions on a terminal, driven through a pty: the mirror of the
// cell grid (checked with a small VT interpreter of what the back end wrote),
// raw mode and its restore, key input, and the terminal going away.
#include "port/console.h"
#include "port/keys.h"
#include "port/screen_grid.h"
#include "port/system.h"
#include "test_hooks.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 30;
constexpr int kHeight = 10;

// --- a small VT interpreter ---------------------------------------------------
// Knows exactly the sequences the back end may send; anything else (a raw
// control byte, an unknown sequence, an autowrap) is recorded as an error.
class VtScreen {
  public:
    struct Cell {
        std::string glyph = " ";
        std::string sgr = "0";
    };

    VtScreen(int width, int height)
        : width_(width), height_(height), bottom_(height - 1),
          cells_(static_cast<std::size_t>(height),
                 std::vector<Cell>(static_cast<std::size_t>(width))) {}

    void Feed(const std::string& bytes) {
        std::size_t i = 0;
        while (i < bytes.size()) {
            const unsigned char c = static_cast<unsigned char>(bytes[i]);
            if (c == 0x1B) {
                i = Escape(bytes, i);
            } else if (c < 0x20 || c == 0x7F) {
                Error("raw control byte " + std::to_string(c));
                ++i;
            } else if (c < 0x80) {
                Print(std::string(1, static_cast<char>(c)));
                ++i;
            } else if (c >= 0xC2 && c <= 0xDF && i + 1 < bytes.size() &&
                       (static_cast<unsigned char>(bytes[i + 1]) & 0xC0) == 0x80) {
                Print(bytes.substr(i, 2));
                i += 2;
            } else {
                Error("stray byte " + std::to_string(c));
                ++i;
            }
        }
    }

    std::string Row(int y) const {
        std::string text;
        for (const Cell& cell : cells_[static_cast<std::size_t>(y)])
            text += cell.glyph;
        return text;
    }
    const Cell& At(int x, int y) const {
        return cells_[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
    }

    int x = 0, y = 0;
    int shape = -1;
    bool visible = true;
    bool fullRegion = true;
    std::string title;
    std::vector<std::string> errors;

  private:
    void Error(const std::string& what) { errors.push_back(what); }

    void Print(const std::string& glyph) {
        if (pendingWrap_) {
            Error("autowrap at row " + std::to_string(y));
            pendingWrap_ = false;
            x = 0;
            if (y < height_ - 1)
                ++y;
        }
        Cell& cell = cells_[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
        cell.glyph = glyph;
        cell.sgr = sgr_;
        if (x == width_ - 1)
            pendingWrap_ = true;
        else
            ++x;
    }

    static std::vector<int> Numbers(const std::string& parameters) {
        std::vector<int> numbers;
        std::string current;
        for (char c : parameters + ";") {
            if (c == ';') {
                numbers.push_back(current.empty() ? 0 : std::atoi(current.c_str()));
                current.clear();
            } else {
                current += c;
            }
        }
        return numbers;
    }

    std::size_t Escape(const std::string& bytes, std::size_t i) {
        if (i + 1 >= bytes.size()) {
            Error("ESC at the end");
            return i + 1;
        }
        const char kind = bytes[i + 1];
        if (kind == ']') { // OSC ... BEL
            std::size_t end = bytes.find('\x07', i + 2);
            if (end == std::string::npos) {
                Error("unterminated OSC");
                return bytes.size();
            }
            std::string body = bytes.substr(i + 2, end - i - 2);
            if (body.rfind("0;", 0) == 0)
                title = body.substr(2);
            else if (body.rfind("999;", 0) != 0)
                Error("unknown OSC " + body);
            return end + 1;
        }
        if (kind != '[') {
            Error(std::string("unknown escape ") + kind);
            return i + 2;
        }
        std::size_t j = i + 2;
        std::string parameters, intermediates;
        while (j < bytes.size() && bytes[j] >= 0x30 && bytes[j] <= 0x3F)
            parameters += bytes[j++];
        while (j < bytes.size() && bytes[j] >= 0x20 && bytes[j] <= 0x2F)
            intermediates += bytes[j++];
        if (j >= bytes.size()) {
            Error("unterminated CSI");
            return j;
        }
        Csi(parameters, intermediates, bytes[j]);
        return j + 1;
    }

    void Csi(const std::string& parameters, const std::string& intermediates, char final) {
        const std::vector<int> n = Numbers(parameters);
        const std::string sequence = parameters + intermediates + final;
        if (final == 'H' && intermediates.empty()) {
            y = std::max(n[0], 1) - 1;
            x = n.size() > 1 ? std::max(n[1], 1) - 1 : 0;
            if (x >= width_ || y >= height_)
                Error("cursor outside the screen: " + sequence);
            pendingWrap_ = false;
        } else if (final == 'r' && intermediates.empty()) {
            if (parameters.empty()) {
                top_ = 0;
                bottom_ = height_ - 1;
                fullRegion = true;
            } else {
                top_ = n[0] - 1;
                bottom_ = n[1] - 1;
                fullRegion = top_ == 0 && bottom_ == height_ - 1;
            }
            x = y = 0;
            pendingWrap_ = false;
        } else if (final == 'S' && intermediates.empty()) {
            const int count = std::max(n[0], 1);
            for (int row = top_; row <= bottom_; ++row) {
                if (row + count <= bottom_)
                    cells_[static_cast<std::size_t>(row)] =
                        cells_[static_cast<std::size_t>(row + count)];
                else
                    cells_[static_cast<std::size_t>(row)].assign(static_cast<std::size_t>(width_),
                                                                 Cell{});
            }
        } else if (final == 'J' && parameters == "2" && intermediates.empty()) {
            for (auto& row : cells_)
                row.assign(static_cast<std::size_t>(width_), Cell{});
        } else if (final == 'K' && parameters == "2" && intermediates.empty()) {
            cells_[static_cast<std::size_t>(y)].assign(static_cast<std::size_t>(width_), Cell{});
        } else if (final == 'm' && intermediates.empty()) {
            sgr_ = parameters.empty() ? "0" : parameters;
        } else if (final == 'q' && intermediates == " ") {
            shape = n[0];
        } else if ((final == 'h' || final == 'l') && parameters == "?25") {
            visible = final == 'h';
        } else {
            Error("unknown CSI " + sequence);
        }
    }

    int width_, height_;
    int top_ = 0, bottom_;
    bool pendingWrap_ = false;
    std::string sgr_ = "0";
    std::vector<std::vector<Cell>> cells_;
};

// The glyph the terminal should show for a cell's byte.
std::string Glyph(char character) {
    const unsigned char c = static_cast<unsigned char>(character);
    if (c < 32 || c == 127 || (c >= 128 && c < 160))
        return "?";
    if (c >= 160)
        return std::string{static_cast<char>(0xC0 | (c >> 6)),
                           static_cast<char>(0x80 | (c & 0x3F))};
    return std::string(1, static_cast<char>(c));
}

// --- a pty ---------------------------------------------------------------------

struct Pty {
    int master = -1;
    int slave = -1;

    bool Open(int width, int height) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return false;
        const char* name = ::ptsname(master);
        if (name == nullptr)
            return false;
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            return false;
        return Resize(width, height);
    }

    bool Resize(int width, int height) {
        struct winsize size {};
        size.ws_col = static_cast<unsigned short>(width);
        size.ws_row = static_cast<unsigned short>(height);
        return ::ioctl(master, TIOCSWINSZ, &size) == 0;
    }

    void Close() {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
        slave = master = -1;
    }

    // Everything written to the terminal so far: a marker is written after
    // it through the same terminal, and the output is read up to the marker.
    std::string Drain() {
        static const std::string marker = "\x1b]999;sync\x07";
        EXPECT_EQ(::write(slave, marker.data(), marker.size()),
                  static_cast<ssize_t>(marker.size()));
        std::string output;
        char buffer[4096];
        while (output.find(marker) == std::string::npos) {
            struct pollfd p {
                master, POLLIN, 0
            };
            if (::poll(&p, 1, 5000) <= 0) {
                ADD_FAILURE() << "the terminal output did not arrive";
                break;
            }
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            output.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t at = output.find(marker);
        if (at != std::string::npos)
            output.erase(at, marker.size());
        return output;
    }

    // Types `keys` and waits until the terminal has them all as input.
    void Type(const std::string& keys) {
        int before = 0;
        ASSERT_EQ(::ioctl(slave, FIONREAD, &before), 0);
        ASSERT_EQ(::write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        for (int i = 0; i < 5000; ++i) {
            int waiting = 0;
            ASSERT_EQ(::ioctl(slave, FIONREAD, &waiting), 0);
            if (waiting >= before + static_cast<int>(keys.size()))
                return;
            ::usleep(1000);
        }
        FAIL() << "typed keys did not arrive";
    }
};

class TerminalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.Open(kWidth, kHeight));
        ASSERT_EQ(::tcgetattr(pty_.slave, &original_), 0);
        port::posix::AttachConsoleForTesting(pty_.slave, pty_.slave);
        ASSERT_TRUE(port::ConsoleAvailable());
        out_ = port::StdOutput();
        in_ = port::StdInput();
    }
    void TearDown() override {
        port::posix::DetachConsoleForTesting();
        pty_.Close();
    }

    // Reads what the back end wrote into the VT screen and compares the
    // whole screen and the cursor with the grid.
    void ExpectMirror(const char* step) {
        SCOPED_TRACE(step);
        vt_.Feed(pty_.Drain());
        EXPECT_TRUE(vt_.errors.empty()) << vt_.errors.front();
        vt_.errors.clear();
        const port::ScreenGrid& grid = port::posix::ConsoleGridForTesting();
        for (int y = 0; y < kHeight; ++y) {
            std::string expected;
            for (int x = 0; x < kWidth; ++x)
                expected += Glyph(grid.At(x, y).character);
            EXPECT_EQ(vt_.Row(y), expected) << "row " << y;
            for (int x = 0; x < kWidth; ++x) {
                const bool plain = grid.At(x, y).attributes == 7;
                EXPECT_EQ(vt_.At(x, y).sgr == "0", plain) << "cell " << x << "," << y;
            }
        }
        EXPECT_EQ(vt_.x, cursor_.X);
        EXPECT_EQ(vt_.y, cursor_.Y);
        EXPECT_TRUE(vt_.fullRegion);
    }

    void PlaceCursor(std::int16_t x, std::int16_t y) {
        cursor_ = port::Coord{x, y};
        ASSERT_TRUE(port::SetCursorPosition(out_, cursor_));
    }

    // One log entry as the core writes it: scroll, stamp, text.
    void LogLine(const std::string& stamp, const std::string& text) {
        const port::Rect log{0, 0, kWidth - 1, kHeight - 2};
        ASSERT_TRUE(
            port::ScrollScreen(out_, log, &log, port::Coord{0, -1}, port::CharInfo{' ', 7}));
        std::uint32_t written = 0;
        ASSERT_TRUE(port::WriteCells(out_, stamp.data(), static_cast<std::uint32_t>(stamp.size()),
                                     port::Coord{0, kHeight - 2}, &written));
        EXPECT_EQ(written, stamp.size());
        ASSERT_TRUE(port::WriteCells(
            out_, text.data(), static_cast<std::uint32_t>(text.size()),
            port::Coord{static_cast<std::int16_t>(stamp.size() + 1), kHeight - 2}, &written));
    }

    Pty pty_;
    struct termios original_ {};
    port::Handle out_ = port::kNullHandle;
    port::Handle in_ = port::kNullHandle;
    VtScreen vt_{kWidth, kHeight};
    port::Coord cursor_{0, 0};
};

std::string Keys(port::Handle input, std::vector<port::KeyEvent>* events) {
    std::uint32_t count = 0;
    EXPECT_TRUE(port::CountInputEvents(input, &count));
    std::string text;
    while (count > 0) {
        port::InputRecord record{};
        std::uint32_t read = 0;
        EXPECT_TRUE(port::ReadInputRecord(input, &record, &read));
        EXPECT_EQ(read, 1u);
        if (read == 0)
            break;
        EXPECT_EQ(record.eventType, port::kKeyEventType);
        EXPECT_TRUE(record.key.keyDown);
        EXPECT_EQ(record.key.repeatCount, 1);
        events->push_back(record.key);
        text += record.key.asciiChar;
        EXPECT_TRUE(port::CountInputEvents(input, &count));
    }
    return text;
}

} // namespace

TEST_F(TerminalTest, HandlesAndSize) {
    EXPECT_GE(out_, 3);
    EXPECT_GE(in_, 3);
    EXPECT_NE(out_, in_);
    EXPECT_NE(in_, pty_.slave);
    EXPECT_EQ(::fcntl(static_cast<int>(in_), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(::fcntl(static_cast<int>(out_), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    port::Coord size{0, 0};
    ASSERT_TRUE(port::GetScreenSize(out_, &size));
    EXPECT_EQ(size.X, kWidth);
    EXPECT_EQ(size.Y, kHeight);
    // The wrong handle for the job fails.
    EXPECT_FALSE(port::GetScreenSize(in_, &size));
    EXPECT_FALSE(port::SetInputMode(out_, 28));
    std::uint32_t count = 0;
    EXPECT_FALSE(port::CountInputEvents(out_, &count));
    // Closing a console handle is refused: it stays usable.
    port::Close(out_);
    EXPECT_TRUE(port::GetScreenSize(out_, &size));
}

TEST_F(TerminalTest, CursorInfo) {
    port::CursorInfo info{0, false};
    ASSERT_TRUE(port::GetCursorInfo(out_, &info));
    EXPECT_EQ(info.size, 25u);
    EXPECT_TRUE(info.visible);

    ASSERT_TRUE(port::SetCursorInfo(out_, port::CursorInfo{99, true}));
    vt_.Feed(pty_.Drain());
    EXPECT_EQ(vt_.shape, 2);
    EXPECT_TRUE(vt_.visible);
    ASSERT_TRUE(port::SetCursorInfo(out_, port::CursorInfo{19, false}));
    vt_.Feed(pty_.Drain());
    EXPECT_EQ(vt_.shape, 4);
    EXPECT_FALSE(vt_.visible);
    ASSERT_TRUE(port::GetCursorInfo(out_, &info));
    EXPECT_EQ(info.size, 19u);
    EXPECT_FALSE(info.visible);
    EXPECT_FALSE(port::SetCursorInfo(out_, port::CursorInfo{0, true}));
    EXPECT_TRUE(vt_.errors.empty());
}

TEST_F(TerminalTest, MirrorFollowsTheGrid) {
    PlaceCursor(0, kHeight - 1);
    ExpectMirror("cursor on the input line");

    LogLine("[stamp 1]", "first");
    ExpectMirror("first log line");
    // Control bytes and DEL show as '?', C1 bytes too, Latin-1 as UTF-8;
    // the text runs to the last column.
    LogLine("[stamp 2]", std::string("a\x1b[2Jb\n\t\x7f\x85\xe9\xff-ok-z0123456", 20));
    ExpectMirror("control and Latin-1 bytes");
    for (int i = 3; i < 14; ++i)
        LogLine("[stamp " + std::to_string(i) + "]", "line " + std::to_string(i));
    ExpectMirror("the log scrolled past the top");

    std::uint32_t written = 0;
    ASSERT_TRUE(port::FillCellAttributes(out_, 0x1F, 5, port::Coord{kWidth - 2, 3}, &written));
    EXPECT_EQ(written, 5u);
    ExpectMirror("attributes across a row end");
    EXPECT_EQ(vt_.At(kWidth - 1, 3).sgr, "0;97;44");

    // A move that is not a full-width upward scroll: repainted.
    ASSERT_TRUE(port::ScrollScreen(out_, port::Rect{2, 2, 12, 5}, nullptr, port::Coord{4, 3},
                                   port::CharInfo{'.', 0x1F}));
    ExpectMirror("a block moved right and down");
    const port::Rect clip{0, 1, kWidth - 1, 6};
    ASSERT_TRUE(port::ScrollScreen(out_, port::Rect{0, 1, kWidth - 1, 5}, &clip, port::Coord{0, 3},
                                   port::CharInfo{'#', 7}));
    ExpectMirror("rows moved down");
    ASSERT_TRUE(port::ScrollScreen(out_, port::Rect{0, 2, kWidth - 1, 7}, nullptr,
                                   port::Coord{0, 0}, port::CharInfo{' ', 7}));
    ExpectMirror("two rows up inside the screen");
    ASSERT_TRUE(port::ScrollScreen(out_, port::Rect{0, 0, kWidth - 1, kHeight - 1}, nullptr,
                                   port::Coord{0, -kHeight}, port::CharInfo{' ', 7}));
    ExpectMirror("everything scrolled away");

    // The input line as the editor draws it.
    ASSERT_TRUE(
        port::FillCellCharacters(out_, ' ', kWidth - 1, port::Coord{0, kHeight - 1}, &written));
    ASSERT_TRUE(port::WriteCells(out_, "hello", 5, port::Coord{0, kHeight - 1}, &written));
    PlaceCursor(5, kHeight - 1);
    ExpectMirror("typed text");

    // "cls".
    LogLine("[stamp]", "before cls");
    ASSERT_TRUE(
        port::FillCellCharacters(out_, ' ', kWidth * (kHeight - 1), port::Coord{0, 0}, &written));
    EXPECT_EQ(written, static_cast<std::uint32_t>(kWidth * (kHeight - 1)));
    ASSERT_TRUE(
        port::FillCellAttributes(out_, 7, kWidth * (kHeight - 1), port::Coord{0, 0}, &written));
    ExpectMirror("cls");
    EXPECT_EQ(vt_.Row(kHeight - 1).substr(0, 5), "hello");

    // Requests outside the screen fail and change nothing.
    EXPECT_FALSE(port::WriteCells(out_, "x", 1, port::Coord{0, kHeight}, &written));
    EXPECT_FALSE(port::SetCursorPosition(out_, port::Coord{kWidth, 0}));
    ExpectMirror("nothing changed");
}

TEST_F(TerminalTest, WhatTheTerminalShowedScrollsUp) {
    // Text the shell left on the screen before the program started.
    const std::string before = "\x1b[6;1HEARLIER\x1b[9;1HNEWEST";
    ASSERT_EQ(::write(pty_.slave, before.data(), before.size()),
              static_cast<ssize_t>(before.size()));
    PlaceCursor(0, kHeight - 1);
    vt_.Feed(pty_.Drain());
    EXPECT_EQ(vt_.Row(5).substr(0, 7), "EARLIER");
    LogLine("[s]", "new");
    vt_.Feed(pty_.Drain());
    EXPECT_TRUE(vt_.errors.empty());
    EXPECT_EQ(vt_.Row(4).substr(0, 7), "EARLIER");
    EXPECT_EQ(vt_.Row(7).substr(0, 6), "NEWEST");
    EXPECT_EQ(vt_.Row(8).substr(0, 7), "[s] new");
    EXPECT_EQ(vt_.x, 0);
    EXPECT_EQ(vt_.y, kHeight - 1);
}

TEST_F(TerminalTest, RawModeAndRestore) {
    ASSERT_TRUE(port::SetInputMode(in_, 28));
    struct termios raw {};
    ASSERT_EQ(::tcgetattr(pty_.slave, &raw), 0);
    EXPECT_EQ(raw.c_lflag & ICANON, 0u);
    EXPECT_EQ(raw.c_lflag & ECHO, 0u);
    EXPECT_EQ(raw.c_lflag & ISIG, 0u);
    EXPECT_EQ(raw.c_iflag & IXON, 0u);
    EXPECT_EQ(raw.c_iflag & ICRNL, 0u);
    EXPECT_NE(raw.c_oflag & OPOST, 0u);
    EXPECT_EQ(::fcntl(pty_.slave, F_GETFL) & O_NONBLOCK, 0);

    PlaceCursor(3, kHeight - 1);
    ASSERT_TRUE(port::SetCursorInfo(out_, port::CursorInfo{99, false}));
    LogLine("[s]", "text");
    vt_.Feed(pty_.Drain());

    port::posix::DetachConsoleForTesting();
    struct termios restored {};
    ASSERT_EQ(::tcgetattr(pty_.slave, &restored), 0);
    EXPECT_EQ(restored.c_lflag, original_.c_lflag);
    EXPECT_EQ(restored.c_iflag, original_.c_iflag);
    EXPECT_EQ(restored.c_oflag, original_.c_oflag);
    EXPECT_EQ(std::memcmp(restored.c_cc, original_.c_cc, sizeof restored.c_cc), 0);

    const std::string tail = pty_.Drain();
    vt_.Feed(tail);
    EXPECT_TRUE(vt_.errors.empty());
    EXPECT_EQ(vt_.shape, 0);
    EXPECT_TRUE(vt_.visible);
    EXPECT_TRUE(vt_.fullRegion);
    EXPECT_EQ(vt_.x, 0);
    EXPECT_EQ(vt_.y, kHeight - 1);
    EXPECT_EQ(vt_.Row(kHeight - 1), std::string(kWidth, ' '));
    EXPECT_EQ(vt_.Row(kHeight - 2).substr(0, 8), "[s] text") << "the log stays";

    // Restoring twice writes nothing more.
    port::posix::DetachConsoleForTesting();
    EXPECT_EQ(pty_.Drain(), "");
}

TEST_F(TerminalTest, AConsoleThatNeverTouchedTheTerminalRestoresNothing) {
    port::Coord size{};
    ASSERT_TRUE(port::GetScreenSize(out_, &size));
    port::CursorInfo info{};
    ASSERT_TRUE(port::GetCursorInfo(out_, &info));
    port::posix::DetachConsoleForTesting();
    EXPECT_EQ(pty_.Drain(), "");
}

TEST_F(TerminalTest, KeysAreDecoded) {
    ASSERT_TRUE(port::SetInputMode(in_, 28));
    std::uint32_t count = 99;
    ASSERT_TRUE(port::CountInputEvents(in_, &count));
    EXPECT_EQ(count, 0u);

    pty_.Type("ls\x1b[D!\x03\r");
    std::vector<port::KeyEvent> events;
    EXPECT_EQ(Keys(in_, &events), std::string("ls\0!\x03\r", 6));
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[2].virtualKeyCode, port::kVkLeft);
    EXPECT_EQ(events[3].virtualKeyCode, '1');
    EXPECT_EQ(events[4].virtualKeyCode, 'C');
    EXPECT_EQ(events[4].controlKeyState, port::kLeftCtrlPressed);
    EXPECT_EQ(events[5].virtualKeyCode, port::kVkReturn);

    // Nothing waiting: a read returns no record.
    port::InputRecord record{};
    std::uint32_t read = 7;
    ASSERT_TRUE(port::ReadInputRecord(in_, &record, &read));
    EXPECT_EQ(read, 0u);
}

TEST_F(TerminalTest, LoneEscapeAndSplitSequences) {
    ASSERT_TRUE(port::SetInputMode(in_, 28));
    std::vector<port::KeyEvent> events;
    pty_.Type("\x1b");
    EXPECT_EQ(Keys(in_, &events), "\x1b");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].virtualKeyCode, port::kVkEscape);

    // Two writes that arrive before the read are one key.
    events.clear();
    pty_.Type("\x1b[1;");
    pty_.Type("5C");
    Keys(in_, &events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].virtualKeyCode, port::kVkRight);
    EXPECT_EQ(events[0].controlKeyState, port::kLeftCtrlPressed);

    // An unfinished sequence is dropped after the pause.
    events.clear();
    pty_.Type("\x1b[1;5");
    Keys(in_, &events);
    EXPECT_TRUE(events.empty());
}

TEST_F(TerminalTest, WaitSeesTheConsole) {
    ASSERT_TRUE(port::SetInputMode(in_, 28));
    pty_.Type("ab");
    port::Handle rows[1] = {in_};
    EXPECT_EQ(port::WaitAny(1, rows), 0u);
    // Keys decoded but not yet read keep the input signalled.
    std::uint32_t count = 0;
    ASSERT_TRUE(port::CountInputEvents(in_, &count));
    EXPECT_EQ(count, 2u);
    port::InputRecord record{};
    std::uint32_t read = 0;
    ASSERT_TRUE(port::ReadInputRecord(in_, &record, &read));
    EXPECT_EQ(port::WaitAny(1, rows), 0u);
    ASSERT_TRUE(port::ReadInputRecord(in_, &record, &read));
    EXPECT_EQ(record.key.asciiChar, 'b');
}

TEST_F(TerminalTest, Title) {
    port::SetWindowTitle("Zelk \x1b]2;x\x07 Title\xe9");
    vt_.Feed(pty_.Drain());
    EXPECT_TRUE(vt_.errors.empty()) << vt_.errors.front();
    EXPECT_EQ(vt_.title, "Zelk ?]2;x? Title\xc3\xa9");
}

TEST_F(TerminalTest, SignalsRestoreTheTerminal) {
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            port::posix::AttachConsoleForTesting(pty_.slave, pty_.slave);
            port::SetInputMode(port::StdInput(), 28);
            port::SetCursorPosition(port::StdOutput(), port::Coord{4, 2});
            port::SetCursorInfo(port::StdOutput(), port::CursorInfo{99, false});
            ::raise(signal);
            ::_exit(99);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), signal);
        }
        struct termios after {};
        ASSERT_EQ(::tcgetattr(pty_.slave, &after), 0);
        EXPECT_EQ(after.c_lflag, original_.c_lflag);
        EXPECT_EQ(after.c_iflag, original_.c_iflag);
        VtScreen vt(kWidth, kHeight);
        vt.Feed(pty_.Drain());
        EXPECT_TRUE(vt.errors.empty());
        EXPECT_EQ(vt.shape, 0);
        EXPECT_TRUE(vt.visible);
        EXPECT_EQ(vt.y, kHeight - 1);
        EXPECT_EQ(vt.x, 0);
    }
}

TEST_F(TerminalTest, ExitRestoresTheTerminal) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        port::posix::AttachConsoleForTesting(pty_.slave, pty_.slave);
        port::SetInputMode(port::StdInput(), 28);
        port::SetCursorPosition(port::StdOutput(), port::Coord{4, 2});
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    struct termios after {};
    ASSERT_EQ(::tcgetattr(pty_.slave, &after), 0);
    EXPECT_EQ(after.c_lflag, original_.c_lflag);
    VtScreen vt(kWidth, kHeight);
    vt.Feed(pty_.Drain());
    EXPECT_EQ(vt.y, kHeight - 1);
    EXPECT_EQ(vt.x, 0);
}

TEST_F(TerminalTest, ASizeChangeArrivesAsABufferSizeRecord) {
    ASSERT_TRUE(port::SetInputMode(in_, 28));
    PlaceCursor(3, kHeight - 1);
    LogLine("[s]", "before");
    vt_.Feed(pty_.Drain());

    ASSERT_TRUE(pty_.Resize(40, 12));
    ASSERT_EQ(::raise(SIGWINCH), 0);
    port::Handle rows[1] = {in_};
    EXPECT_EQ(port::WaitAny(1, rows), 0u);
    std::uint32_t count = 0;
    ASSERT_TRUE(port::CountInputEvents(in_, &count));
    EXPECT_EQ(count, 1u);
    port::InputRecord record{};
    std::uint32_t read = 0;
    ASSERT_TRUE(port::ReadInputRecord(in_, &record, &read));
    ASSERT_EQ(read, 1u);
    EXPECT_EQ(record.eventType, port::kWindowBufferSizeEventType);
    EXPECT_EQ(record.bufferSize.size.X, 40);
    EXPECT_EQ(record.bufferSize.size.Y, 12);
    ASSERT_TRUE(port::CountInputEvents(in_, &count));
    EXPECT_EQ(count, 0u);
    port::Coord size{};
    ASSERT_TRUE(port::GetScreenSize(out_, &size));
    EXPECT_EQ(size.X, 40);
    EXPECT_EQ(size.Y, 12);

    // The grid and the terminal are blank at the new size; the terminal was
    // cleared, so a screen of the new size that reads what followed agrees.
    const port::ScreenGrid& grid = port::posix::ConsoleGridForTesting();
    EXPECT_EQ(grid.Width(), 40);
    EXPECT_EQ(grid.Height(), 12);
    VtScreen vt(40, 12);
    vt.Feed("XXXXXXXXXX");
    vt.Feed(pty_.Drain());
    EXPECT_TRUE(vt.errors.empty()) << vt.errors.front();
    EXPECT_EQ(vt.Row(0), std::string(40, ' '));
    EXPECT_EQ(vt.x, 3);
    EXPECT_EQ(vt.y, kHeight - 1) << "the cursor stays where it was put";

    // Drawing goes on at the new size.
    const port::Rect log{0, 0, 39, 10};
    ASSERT_TRUE(port::ScrollScreen(out_, log, &log, port::Coord{0, -1}, port::CharInfo{' ', 7}));
    std::uint32_t written = 0;
    ASSERT_TRUE(port::WriteCells(out_, "after", 5, port::Coord{35, 10}, &written));
    ASSERT_TRUE(port::SetCursorPosition(out_, port::Coord{0, 11}));
    vt.Feed(pty_.Drain());
    EXPECT_TRUE(vt.errors.empty()) << vt.errors.front();
    EXPECT_EQ(vt.Row(10), std::string(35, ' ') + "after");
    EXPECT_EQ(grid.RowText(10), vt.Row(10));

    // The terminal is left on its new last row.
    port::posix::DetachConsoleForTesting();
    vt.Feed(pty_.Drain());
    EXPECT_EQ(vt.y, 11);
}

TEST_F(TerminalTest, ASignalDuringTheWaitSignalsTheInputInsteadOfFailingIt) {
    ASSERT_TRUE(port::SetInputMode(in_, 28));
    const pthread_t waiter = ::pthread_self();
    std::thread resizer([waiter] {
        ::usleep(30000);
        ::pthread_kill(waiter, SIGWINCH);
    });
    port::Handle rows[1] = {in_};
    const std::uint32_t result = port::WaitAny(1, rows);
    resizer.join();
    EXPECT_EQ(result, 0u);
    std::uint32_t count = 0;
    ASSERT_TRUE(port::CountInputEvents(in_, &count));
    EXPECT_EQ(count, 1u) << "a buffer-size record, even for the same size";
    port::InputRecord record{};
    std::uint32_t read = 0;
    ASSERT_TRUE(port::ReadInputRecord(in_, &record, &read));
    EXPECT_EQ(record.eventType, port::kWindowBufferSizeEventType);
    EXPECT_EQ(record.bufferSize.size.X, kWidth);
}

TEST_F(TerminalTest, BytesThatArriveDuringTheSleepAreStampedAsTheyCome) {
    ASSERT_TRUE(port::SetInputMode(in_, 28));
    // Escape, then a key a moment later, both before the program reads: as
    // with a manager that pauses between its passes.
    pty_.Type("\x1b");
    const int master = pty_.master;
    std::thread typist([master] {
        ::usleep(20000);
        [[maybe_unused]] ssize_t n = ::write(master, "xyz", 3);
    });
    port::SleepMs(80);
    typist.join();
    std::vector<port::KeyEvent> events;
    EXPECT_EQ(Keys(in_, &events), "\x1bxyz");
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].virtualKeyCode, port::kVkEscape);
    EXPECT_EQ(events[1].virtualKeyCode, 'X');
    EXPECT_EQ(events[1].controlKeyState, 0u);

    // ESC and a key in one write: the key with Alt, and no Escape.
    events.clear();
    pty_.Type("\x1bk");
    port::SleepMs(10);
    EXPECT_EQ(Keys(in_, &events), "k");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].controlKeyState, port::kLeftAltPressed);

    // Alt+Left as PuTTY sends it, and as xterm does: one character left.
    events.clear();
    pty_.Type("\x1b\x1b[D");
    pty_.Type("\x1b[1;3D");
    Keys(in_, &events);
    ASSERT_EQ(events.size(), 2u);
    for (const port::KeyEvent& key : events) {
        EXPECT_EQ(key.virtualKeyCode, port::kVkLeft);
        EXPECT_EQ(key.controlKeyState, port::kLeftAltPressed);
    }
}

TEST_F(TerminalTest, WithoutRawModeTheSleepReadsNothing) {
    pty_.Type("ab\n");
    port::SleepMs(5);
    int waiting = 0;
    ASSERT_EQ(::ioctl(pty_.slave, FIONREAD, &waiting), 0);
    EXPECT_EQ(waiting, 3);
}

TEST(TerminalGone, EndsTheProgramAsAHangUp) {
    EXPECT_EXIT(
        {
            Pty pty;
            if (!pty.Open(kWidth, kHeight))
                std::_Exit(3);
            port::posix::AttachConsoleForTesting(pty.slave, pty.slave);
            port::SetInputMode(port::StdInput(), 28);
            ::close(pty.master);
            port::Handle rows[1] = {port::StdInput()};
            if (port::WaitAny(1, rows) != 0)
                std::_Exit(4);
            std::uint32_t count = 0;
            port::CountInputEvents(port::StdInput(), &count);
            std::_Exit(5);
        },
        ::testing::KilledBySignal(SIGHUP), "");
}

TEST(NoConsole, EveryConsoleFunctionFailsWithoutTouchingAnything) {
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        port::posix::DetachConsoleForTesting();
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(output[1], 1);
        ::close(output[0]);
        int failures = 0;
        failures += port::ConsoleAvailable() ? 1 : 0;
        failures += port::StdOutput() != port::kNullHandle ? 1 : 0;
        failures += port::StdInput() != port::kNullHandle ? 1 : 0;
        for (port::Handle h : {port::Handle{0}, port::Handle{1}, port::Handle{3}}) {
            port::Coord size{};
            failures += port::GetScreenSize(h, &size) ? 1 : 0;
            failures += port::SetInputMode(h, 28) ? 1 : 0;
            failures += port::SetCursorPosition(h, port::Coord{0, 0}) ? 1 : 0;
            std::uint32_t n = 0;
            failures += port::WriteCells(h, "x", 1, port::Coord{0, 0}, &n) ? 1 : 0;
            failures += port::FillCellCharacters(h, 'x', 1, port::Coord{0, 0}, &n) ? 1 : 0;
            failures += port::CountInputEvents(h, &n) ? 1 : 0;
            port::CursorInfo info{};
            failures += port::SetCursorInfo(h, port::CursorInfo{50, true}) ? 1 : 0;
            failures += port::GetCursorInfo(h, &info) ? 1 : 0;
        }
        port::SetWindowTitle("title");
        ::_exit(failures);
    }
    ::close(output[1]);
    std::string written;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(output[0], buffer, sizeof buffer)) > 0)
        written.append(buffer, static_cast<std::size_t>(n));
    ::close(output[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "console calls that succeeded";
    EXPECT_EQ(written, "");
}
