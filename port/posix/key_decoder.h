// Turns the bytes a terminal sends into key events with the Windows
// virtual-key codes the line editor dispatches on. Pure code: no OS headers,
// so it is unit-tested over byte strings (tests/port/key_decoder_test.cpp).
//
// The bytes it understands:
//   CR or LF                          Enter (13)
//   TAB                               Tab (9)
//   DEL 0x7F                          Backspace (8)
//   BS 0x08                           Backspace with Ctrl
//   ESC alone (on Flush)              Escape (27)
//   ESC [ A/B/C/D, ESC O A/B/C/D      Up, Down, Right, Left
//   ESC [ 1;5 C/D (also ;3 ;7)        Right / Left with Ctrl
//   ESC [ H, ESC O H, ESC [ 1~, 7~    Home
//   ESC [ F, ESC O F, ESC [ 4~, 8~    End
//   ESC [ 2~ 3~ 5~ 6~                 Insert, Delete, Page Up, Page Down
//   ESC [ 3;5~                        Delete with Ctrl
//   0x01..0x1A otherwise              the letter's key with Ctrl held
//   ESC + a printable byte            that key with Alt held
//   an unknown sequence               dropped whole
// Printable characters carry the US-layout codes of VkKeyScanA (never their
// byte value as the code); bytes 128..255 carry code 0 and the byte.
#pragma once

#include "port/types.h"

#include <cstddef>
#include <deque>
#include <string>

namespace port::posix {

class KeyDecoder {
  public:
    // Decodes `length` bytes. A sequence may be split across calls.
    void Feed(const char* bytes, std::size_t length);
    void Feed(const std::string& bytes) { Feed(bytes.data(), bytes.size()); }

    // Ends an unfinished sequence: a lone ESC becomes Escape, an incomplete
    // CSI or SS3 sequence is dropped.
    void Flush();

    // True while an escape sequence has begun but not yet ended.
    bool InSequence() const { return state_ != State::Ground; }

    std::size_t Count() const { return keys_.size(); }
    bool Empty() const { return keys_.empty(); }
    // The oldest decoded key; call only when not Empty().
    KeyEvent Pop();
    void Clear();

    // The key event a single byte stands for outside any sequence; false for
    // ESC, which starts a sequence. Public for the tests.
    static bool KeyForByte(unsigned char byte, KeyEvent* key);

  private:
    enum class State { Ground, Escape, Csi, Ss3, Ignore };

    void Ground(unsigned char byte);
    void Sequence(unsigned char byte);
    void Dispatch(unsigned char final);
    void Push(std::uint16_t code, char ascii, std::uint32_t control);

    static constexpr std::size_t kMaxSequence = 32;

    State state_ = State::Ground;
    std::string parameters_;    // parameter bytes 0x30..0x3F
    std::string intermediates_; // intermediate bytes 0x20..0x2F
    std::deque<KeyEvent> keys_;
};

} // namespace port::posix
