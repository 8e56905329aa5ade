// Turns the bytes a terminal sends into key events with the Windows
// virtual-key codes the line editor dispatches on. Pure code: no OS headers,
// so it is unit-tested over byte strings (tests/port_posix/key_decoder_test.cpp).
//
// The bytes it understands (the key events a Windows console gives for the
// same keys; Shift and Alt are reported but the editor never looks at them):
//   CR or LF                          Enter (13)
//   TAB, ESC [ Z                      Tab (9)
//   the terminal's erase character    Backspace (8)
//     (DEL 0x7F unless set to BS)
//   the other of DEL and BS           Backspace with Ctrl
//   ESC that arrived on its own       Escape (27)
//   ESC before another key's bytes,   that key with Alt
//     in the same terminal write      (ESC x is x, ESC ESC [ D is Left);
//                                     ESC, a character and more bytes in
//                                     one read are Escape and the text
//                                     (the writes of several keys, read
//                                     together while the program was busy)
//   ESC [ A/B/C/D, ESC O A/B/C/D      Up, Down, Right, Left
//   ESC [ a/b/c/d (rxvt)              Up, Down, Right, Left with Shift
//   ESC O a/b/c/d (rxvt)              Up, Down, Right, Left with Ctrl
//   ESC [ 1;m A..D, H, F              that key with the modifiers of m
//                                     (5 Ctrl, 3 Alt, 7 Ctrl+Alt, 2 Shift)
//   ESC [ H, ESC O H, ESC [ 1~, 7~    Home
//   ESC [ F, ESC O F, ESC [ 4~, 8~    End
//   ESC [ 2~ 3~ 5~ 6~                 Insert, Delete, Page Up, Page Down
//   ESC [ 3;5~                        Delete with Ctrl
//   ESC [ n ^, ESC [ n $, ESC [ n @   (rxvt) the key of ESC [ n ~ with Ctrl,
//                                     Shift, or both
//   ESC [ [ A..E (Linux console)      F1..F5 (no character)
//   0x01..0x1A otherwise              the letter's key with Ctrl held
//   an unknown sequence               dropped whole
// Printable characters carry the US-layout codes of VkKeyScanA (never their
// byte value as the code); bytes 128..255 carry code 0 and the byte.
//
// Arrival times. The bytes of one Feed arrived together, in one terminal
// write. A terminal sends each key's bytes in one write, so an ESC is a key
// of its own (Escape) exactly when the next byte came later than one write:
// more than kOneWriteGapUs after it. FeedAt gives the decoder the arrival
// time of each chunk; an unfinished sequence whose next byte comes later
// than that is ended first (a lone ESC becomes Escape, a partial CSI or SS3
// sequence is dropped), and Settle ends it once that much time has passed
// with nothing more. The reasons for the value are in README.md (Design
// notes).
#pragma once

#include "port/types.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace port::posix {

// Microseconds of a monotonic clock.
using Micros = std::int64_t;

// Bytes that arrive at most this far apart may belong to one terminal write;
// bytes further apart are two key presses.
inline constexpr Micros kOneWriteGapUs = 1000;

class KeyDecoder {
  public:
    // Decodes `length` bytes that arrived together, at the time of the bytes
    // fed before them: a sequence may be split across calls.
    void Feed(const char* bytes, std::size_t length);
    void Feed(const std::string& bytes) { Feed(bytes.data(), bytes.size()); }

    // Decodes `length` bytes that arrived together at `arrival`. When an
    // unfinished sequence waits and its last byte came more than
    // kOneWriteGapUs before `arrival`, that sequence is ended first.
    void FeedAt(Micros arrival, const char* bytes, std::size_t length);
    void FeedAt(Micros arrival, const std::string& bytes) {
        FeedAt(arrival, bytes.data(), bytes.size());
    }

    // Ends an unfinished sequence whose last byte came more than
    // kOneWriteGapUs before `now`; a younger one waits for its rest.
    void Settle(Micros now);
    // The first time at which Settle ends the unfinished sequence.
    Micros SettleTime() const { return lastArrival_ + kOneWriteGapUs + 1; }

    // Ends an unfinished sequence now: a lone ESC becomes Escape, an ESC
    // after an ESC Escape with Alt, an incomplete CSI or SS3 sequence is
    // dropped.
    void Flush();

    // True while an escape sequence has begun but not yet ended.
    bool InSequence() const { return state_ != State::Ground; }

    std::size_t Count() const { return keys_.size(); }
    bool Empty() const { return keys_.empty(); }
    // The oldest decoded key; call only when not Empty().
    KeyEvent Pop();
    void Clear();

    // The byte the terminal sends for Backspace (its erase character): DEL
    // 0x7F or BS 0x08; the other one is then Ctrl+Backspace. Any other
    // value leaves DEL as Backspace.
    void SetEraseByte(unsigned char byte);

    // The key event a single byte stands for outside any sequence; false for
    // ESC, which starts a sequence.
    bool KeyForByte(unsigned char byte, KeyEvent* key) const;

  private:
    // Escape: after an ESC. Csi, Ss3: inside ESC [ or ESC O. LinuxFunction:
    // after ESC [ [, one more byte names the key. Ignore: skipping the rest
    // of a malformed or overlong sequence.
    enum class State { Ground, Escape, Csi, Ss3, LinuxFunction, Ignore };

    void Ground(unsigned char byte);
    // `endsWrite`: the byte is the last of the bytes that arrived together.
    void Sequence(unsigned char byte, bool endsWrite);
    void AfterEscape(unsigned char byte, bool endsWrite);
    void LinuxFunction(unsigned char byte);
    void ControlSequence(unsigned char byte);
    void Dispatch(unsigned char final);
    void Push(std::uint16_t code, char ascii, std::uint32_t control);
    void Begin(State state);

    static constexpr std::size_t kMaxSequence = 32;

    State state_ = State::Ground;
    bool alt_ = false; // the sequence began with ESC ESC: Alt held
    unsigned char erase_ = 0x7F;
    Micros lastArrival_ = 0;
    std::string parameters_;    // parameter bytes 0x30..0x3F
    std::string intermediates_; // intermediate bytes 0x20..0x2F
    std::deque<KeyEvent> keys_;
};

} // namespace port::posix
