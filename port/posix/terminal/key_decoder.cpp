#include "port/posix/terminal/key_decoder.h"

#include "port/keys.h"

#include <cstdint>
#include <vector>

namespace port::posix {

namespace {

constexpr unsigned char kEsc = 0x1B;

struct Printable {
    std::uint16_t code;
    bool shift;
};

// VkKeyScanA on a US layout for the printable bytes 32..126.
Printable PrintableKey(unsigned char c) {
    if (c >= 'a' && c <= 'z')
        return {static_cast<std::uint16_t>(c - 'a' + 'A'), false};
    if (c >= 'A' && c <= 'Z')
        return {c, true};
    if (c >= '0' && c <= '9')
        return {c, false};
    switch (c) {
    case ' ':
        return {kVkSpace, false};
    case ')':
        return {'0', true};
    case '!':
        return {'1', true};
    case '@':
        return {'2', true};
    case '#':
        return {'3', true};
    case '$':
        return {'4', true};
    case '%':
        return {'5', true};
    case '^':
        return {'6', true};
    case '&':
        return {'7', true};
    case '*':
        return {'8', true};
    case '(':
        return {'9', true};
    case ';':
        return {kVkOem1, false};
    case ':':
        return {kVkOem1, true};
    case '=':
        return {kVkOemPlus, false};
    case '+':
        return {kVkOemPlus, true};
    case ',':
        return {kVkOemComma, false};
    case '<':
        return {kVkOemComma, true};
    case '-':
        return {kVkOemMinus, false};
    case '_':
        return {kVkOemMinus, true};
    case '.':
        return {kVkOemPeriod, false};
    case '>':
        return {kVkOemPeriod, true};
    case '/':
        return {kVkOem2, false};
    case '?':
        return {kVkOem2, true};
    case '`':
        return {kVkOem3, false};
    case '~':
        return {kVkOem3, true};
    case '[':
        return {kVkOem4, false};
    case '{':
        return {kVkOem4, true};
    case '\\':
        return {kVkOem5, false};
    case '|':
        return {kVkOem5, true};
    case ']':
        return {kVkOem6, false};
    case '}':
        return {kVkOem6, true};
    case '\'':
        return {kVkOem7, false};
    case '"':
        return {kVkOem7, true};
    default:
        return {0, false};
    }
}

KeyEvent MakeKey(std::uint16_t code, char ascii, std::uint32_t control) {
    KeyEvent key{};
    key.keyDown = true;
    key.repeatCount = 1;
    key.virtualKeyCode = code;
    key.asciiChar = ascii;
    key.controlKeyState = control;
    return key;
}

// The parameters of a CSI or SS3 sequence; false when they are not plain
// numbers separated by ';' (private markers, sub-parameters, too many).
bool ParseNumbers(const std::string& text, std::vector<int>* numbers) {
    numbers->clear();
    if (text.empty())
        return true;
    int value = -1; // -1: this parameter is empty (its default)
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            int digit = c - '0';
            value = value < 0 ? digit : (value > 9999 ? value : value * 10 + digit);
        } else if (c == ';') {
            numbers->push_back(value);
            value = -1;
        } else {
            return false;
        }
    }
    numbers->push_back(value);
    return numbers->size() <= 4;
}

// The control-key state of an xterm modifier parameter (1 + bits of Shift 1,
// Alt 2, Ctrl 4).
std::uint32_t ModifierState(int modifier) {
    if (modifier <= 1)
        return 0;
    const int bits = (modifier - 1) & 0x0F;
    std::uint32_t state = 0;
    if (bits & 1)
        state |= kShiftPressed;
    if (bits & 2)
        state |= kLeftAltPressed;
    if (bits & 4)
        state |= kLeftCtrlPressed;
    return state;
}

// rxvt's arrows with a modifier: a lower-case final byte.
std::uint16_t RxvtArrow(unsigned char final) {
    switch (final) {
    case 'a':
        return kVkUp;
    case 'b':
        return kVkDown;
    case 'c':
        return kVkRight;
    case 'd':
        return kVkLeft;
    default:
        return 0;
    }
}

// The key of a final byte that names a cursor key alone (A/B/C/D/H/F).
std::uint16_t CursorKey(unsigned char final) {
    switch (final) {
    case 'A':
        return kVkUp;
    case 'B':
        return kVkDown;
    case 'C':
        return kVkRight;
    case 'D':
        return kVkLeft;
    case 'H':
        return kVkHome;
    case 'F':
        return kVkEnd;
    default:
        return 0;
    }
}

// The key of ESC [ n ~.
std::uint16_t TildeKey(int number) {
    switch (number) {
    case 1:
    case 7:
        return kVkHome;
    case 2:
        return kVkInsert;
    case 3:
        return kVkDelete;
    case 4:
    case 8:
        return kVkEnd;
    case 5:
        return kVkPrior;
    case 6:
        return kVkNext;
    default:
        return 0;
    }
}

} // namespace

void KeyDecoder::SetEraseByte(unsigned char byte) {
    erase_ = byte == 0x08 ? 0x08 : 0x7F;
}

bool KeyDecoder::KeyForByte(unsigned char byte, KeyEvent* key) const {
    if (byte == 0x7F || byte == 0x08) {
        *key =
            byte == erase_ ? MakeKey(kVkBack, '\b', 0) : MakeKey(kVkBack, 0x7F, kLeftCtrlPressed);
        return true;
    }
    switch (byte) {
    case '\r':
    case '\n':
        *key = MakeKey(kVkReturn, '\r', 0);
        return true;
    case '\t':
        *key = MakeKey(kVkTab, '\t', 0);
        return true;
    case kEsc:
        return false;
    case 0x00:
        *key = MakeKey(kVkSpace, 0, kLeftCtrlPressed);
        return true;
    case 0x1C:
        *key = MakeKey(kVkOem5, 0x1C, kLeftCtrlPressed);
        return true;
    case 0x1D:
        *key = MakeKey(kVkOem6, 0x1D, kLeftCtrlPressed);
        return true;
    case 0x1E:
        *key = MakeKey('6', 0x1E, kLeftCtrlPressed | kShiftPressed);
        return true;
    case 0x1F:
        *key = MakeKey(kVkOemMinus, 0x1F, kLeftCtrlPressed | kShiftPressed);
        return true;
    default:
        break;
    }
    if (byte < 0x20) { // 0x01..0x1A: Ctrl with a letter
        *key = MakeKey(static_cast<std::uint16_t>('A' + byte - 1), static_cast<char>(byte),
                       kLeftCtrlPressed);
        return true;
    }
    if (byte >= 0x80) {
        *key = MakeKey(0, static_cast<char>(byte), 0);
        return true;
    }
    const Printable p = PrintableKey(byte);
    *key = MakeKey(p.code, static_cast<char>(byte), p.shift ? kShiftPressed : 0);
    return true;
}

void KeyDecoder::Feed(const char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (state_ == State::Ground)
            Ground(byte);
        else
            Sequence(byte, i + 1 == length);
    }
}

void KeyDecoder::FeedAt(Micros arrival, const char* bytes, std::size_t length) {
    if (length == 0)
        return;
    if (InSequence() && arrival - lastArrival_ > kOneWriteGapUs)
        Flush();
    lastArrival_ = arrival;
    Feed(bytes, length);
}

void KeyDecoder::Settle(Micros now) {
    if (InSequence() && now - lastArrival_ > kOneWriteGapUs)
        Flush();
}

void KeyDecoder::Flush() {
    if (state_ == State::Escape)
        Push(kVkEscape, static_cast<char>(kEsc), alt_ ? kLeftAltPressed : 0);
    Begin(State::Ground);
}

KeyEvent KeyDecoder::Pop() {
    KeyEvent key = keys_.front();
    keys_.pop_front();
    return key;
}

void KeyDecoder::Clear() {
    keys_.clear();
    Begin(State::Ground);
}

// Enters `state` with empty parameters. Only the CSI and SS3 states keep the
// Alt of an ESC ESC that began them.
void KeyDecoder::Begin(State state) {
    state_ = state;
    if (state != State::Csi && state != State::Ss3)
        alt_ = false;
    parameters_.clear();
    intermediates_.clear();
}

void KeyDecoder::Push(std::uint16_t code, char ascii, std::uint32_t control) {
    keys_.push_back(MakeKey(code, ascii, control));
}

void KeyDecoder::Ground(unsigned char byte) {
    KeyEvent key{};
    if (KeyForByte(byte, &key)) {
        keys_.push_back(key);
        return;
    }
    Begin(State::Escape); // ESC
}

void KeyDecoder::Sequence(unsigned char byte, bool endsWrite) {
    if (state_ == State::Escape)
        AfterEscape(byte, endsWrite);
    else if (state_ == State::LinuxFunction)
        LinuxFunction(byte);
    else
        ControlSequence(byte);
}

// The byte after an ESC.
void KeyDecoder::AfterEscape(unsigned char byte, bool endsWrite) {
    if (byte == '[' || byte == 'O') {
        Begin(byte == '[' ? State::Csi : State::Ss3);
        return;
    }
    if (byte == kEsc) {
        if (!alt_) { // ESC ESC in one write: Alt with the key the second begins
            alt_ = true;
            return;
        }
        // A third ESC: the second one (with Alt) was Escape; this one begins
        // afresh.
        Push(kVkEscape, static_cast<char>(kEsc), kLeftAltPressed);
        alt_ = false;
        return;
    }
    if (!endsWrite) {
        // More follows in the same read: the bytes of several writes were
        // read together (the program was busy), and a terminal writes one
        // key at a time. ESC followed by text is then taken as Escape and
        // the text, the common case of clearing the line and typing anew.
        Push(kVkEscape, static_cast<char>(kEsc), alt_ ? kLeftAltPressed : 0);
        Begin(State::Ground);
        Ground(byte);
        return;
    }
    // ESC with any other key's byte, ending the write: that key with Alt.
    KeyEvent key{};
    KeyForByte(byte, &key);
    key.controlKeyState |= kLeftAltPressed;
    keys_.push_back(key);
    Begin(State::Ground);
}

// The byte after ESC [ [.
void KeyDecoder::LinuxFunction(unsigned char byte) {
    const bool alt = alt_;
    Begin(State::Ground);
    if (byte >= 'A' && byte <= 'E') { // ESC [ [ A..E: F1..F5, no character
        Push(static_cast<std::uint16_t>(kVkF1 + (byte - 'A')), 0, alt ? kLeftAltPressed : 0);
        return;
    }
    Ground(byte); // anything else: ESC [ [ was an unknown sequence
}

// A byte inside a CSI or SS3 sequence, or of the rest of a malformed one
// that is skipped.
void KeyDecoder::ControlSequence(unsigned char byte) {
    if (byte == kEsc) { // a new sequence begins; the unfinished one is dropped
        Begin(State::Escape);
        return;
    }
    if (byte < 0x20 || byte >= 0x80) { // not part of any sequence: drop, then take the byte
        Begin(State::Ground);
        Ground(byte);
        return;
    }
    if (byte == 0x7F) // ignored inside sequences, as terminals do
        return;
    if (byte >= 0x40) { // final byte
        if (state_ == State::Csi && byte == '[' && parameters_.empty() && intermediates_.empty()) {
            state_ = State::LinuxFunction; // ESC [ [: the Linux console's F1..F5
            return;
        }
        if (state_ != State::Ignore)
            Dispatch(byte);
        Begin(State::Ground);
        return;
    }
    if (state_ == State::Ignore)
        return;
    if (byte >= 0x30) { // parameter byte
        if (!intermediates_.empty() || parameters_.size() >= kMaxSequence)
            state_ = State::Ignore;
        else
            parameters_.push_back(static_cast<char>(byte));
        return;
    }
    // intermediate byte 0x20..0x2F; rxvt ends ESC [ n $ (Shift) with one
    if (byte == '$' && state_ == State::Csi && !parameters_.empty() && intermediates_.empty()) {
        Dispatch(byte);
        Begin(State::Ground);
        return;
    }
    if (intermediates_.size() >= kMaxSequence)
        state_ = State::Ignore;
    else
        intermediates_.push_back(static_cast<char>(byte));
}

void KeyDecoder::Dispatch(unsigned char final) {
    if (!intermediates_.empty())
        return;
    std::vector<int> numbers;
    if (!ParseNumbers(parameters_, &numbers))
        return;

    const bool ss3 = state_ == State::Ss3;
    const std::uint32_t alt = alt_ ? kLeftAltPressed : 0;
    if (numbers.empty() && final == 'Z' && !ss3) { // back tab: Shift+Tab
        Push(kVkTab, '\t', kShiftPressed | alt);
        return;
    }
    if (const std::uint16_t arrow = RxvtArrow(final); arrow != 0 && numbers.empty()) {
        // rxvt: ESC [ a..d with Shift, ESC O a..d with Ctrl.
        Push(arrow, 0, (ss3 ? kLeftCtrlPressed : kShiftPressed) | alt);
        return;
    }
    const std::uint16_t cursorKey = CursorKey(final);
    if (cursorKey != 0) {
        // CSI: no parameters, or 1;m. SS3: no parameters, m, or 1;m.
        int modifier = 1;
        if (numbers.size() == 2 && numbers[0] <= 1)
            modifier = numbers[1];
        else if (numbers.size() == 1 && ss3)
            modifier = numbers[0];
        else if (numbers.size() == 1 && numbers[0] <= 1)
            modifier = 1;
        else if (!numbers.empty())
            return;
        Push(cursorKey, 0, ModifierState(modifier) | alt);
        return;
    }
    if ((final == '^' || final == '$' || final == '@') && !ss3 && numbers.size() == 1) {
        // rxvt: ESC [ n ^ with Ctrl, $ with Shift, @ with both.
        const std::uint16_t key = TildeKey(numbers[0]);
        const std::uint32_t held = final == '^'   ? kLeftCtrlPressed
                                   : final == '$' ? kShiftPressed
                                                  : kLeftCtrlPressed | kShiftPressed;
        if (key != 0)
            Push(key, 0, held | alt);
        return;
    }
    if (final == '~' && !ss3 && !numbers.empty() && numbers.size() <= 2) {
        const std::uint16_t key = TildeKey(numbers[0]);
        if (key == 0)
            return;
        const int modifier = numbers.size() == 2 ? numbers[1] : 1;
        Push(key, 0, ModifierState(modifier) | alt);
        return;
    }
    // Anything else (function keys, focus and mouse reports, ...) is dropped.
}

} // namespace port::posix
