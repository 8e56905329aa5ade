// Input collection of the POSIX console: the terminal's bytes, read as they
// come in and stamped with their arrival time, decoded into key events that
// wait until the core reads them.
//
// The bytes are read whenever the back end gets the chance: when the core
// asks for input, and while it sleeps (the event loop's pause and the pause
// of every console input callback). Reading them then, rather than after the
// pause, is what lets the decoder tell an ESC pressed alone from an ESC that
// a terminal wrote together with a key (see key_decoder.h). Nothing is handed
// to the core before it asks.
#pragma once

#include "port/posix/terminal/key_decoder.h"

#include <cstdint>

namespace port::posix {

// Now, in microseconds of the monotonic clock.
Micros NowUs();

class TerminalInput {
  public:
    // Reads from `fd` from now on; collecting starts with StartCollecting.
    void Attach(int fd);
    // Forgets the descriptor and every byte and key.
    void Detach();

    // The terminal is in raw mode: bytes may be read whenever there is a
    // chance (before, reading would take a line from a canonical terminal).
    void StartCollecting() { collecting_ = true; }
    bool Collecting() const { return fd_ >= 0 && collecting_; }

    // For the core's read: reads what waits; when that ends inside a
    // sequence, waits for its rest at most until the decoder's settle time,
    // then settles it. False when the terminal is gone.
    bool Collect();

    // Sleeps `milliseconds`, reading and stamping bytes as they arrive.
    // Reading stops (the sleep goes on) when the terminal is gone or very
    // many keys wait unread.
    void SleepCollecting(std::uint32_t milliseconds);

    // Keys decoded, or a sequence begun: the input handle is signalled.
    bool Waiting() const { return !decoder_.Empty() || decoder_.InSequence(); }

    KeyDecoder& Decoder() { return decoder_; }

  private:
    // Reads the bytes waiting now into the decoder, stamped. False when the
    // terminal is gone.
    bool ReadWaiting();

    int fd_ = -1;
    bool collecting_ = false;
    bool gone_ = false;
    KeyDecoder decoder_;
};

} // namespace port::posix
