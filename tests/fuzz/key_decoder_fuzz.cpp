// Terminal byte streams -> the key decoder, fed in arbitrary pieces (reads
// of the terminal). Every piece decodes to key presses, at most one per byte.
// Without an ESC, however a stream is split, it decodes to the same keys as
// in one piece; with one, where a read ends may decide between Escape and a
// key with Alt, so only the general rules hold.
#include "port/posix/terminal/key_decoder.h"
#include "require.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<port::KeyEvent> Drain(port::posix::KeyDecoder& decoder) {
    std::vector<port::KeyEvent> keys;
    while (!decoder.Empty())
        keys.push_back(decoder.Pop());
    return keys;
}

bool Same(const port::KeyEvent& a, const port::KeyEvent& b) {
    return a.keyDown == b.keyDown && a.repeatCount == b.repeatCount &&
           a.virtualKeyCode == b.virtualKeyCode && a.asciiChar == b.asciiChar &&
           a.controlKeyState == b.controlKeyState;
}

} // namespace

// The first byte gives the number of cuts (0 to 15), the next bytes the
// length of each piece; the rest is the stream.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t cuts = data[0] % 16;
    if (size < 1 + cuts)
        return 0;
    const char* stream = reinterpret_cast<const char*>(data + 1 + cuts);
    const std::size_t length = size - 1 - cuts;

    port::posix::KeyDecoder whole;
    whole.Feed(stream, length);
    whole.Flush();
    Require(!whole.InSequence(), "Flush ends every sequence");
    const std::vector<port::KeyEvent> expected = Drain(whole);
    Require(expected.size() <= length, "at most one key per byte");

    port::posix::KeyDecoder pieces;
    std::size_t at = 0;
    for (std::size_t i = 0; i < cuts; ++i) {
        std::size_t piece = data[1 + i] % 8;
        if (piece > length - at)
            piece = length - at;
        pieces.Feed(stream + at, piece);
        at += piece;
    }
    pieces.Feed(stream + at, length - at);
    pieces.Flush();
    const std::vector<port::KeyEvent> got = Drain(pieces);

    Require(got.size() <= length, "at most one key per byte, in pieces too");
    for (const port::KeyEvent& key : got)
        Require(key.keyDown, "decoded keys are key presses");
    if (std::memchr(stream, 0x1B, length) != nullptr)
        return 0;
    Require(got.size() == expected.size(), "pieces give as many keys as the whole");
    for (std::size_t i = 0; i < got.size(); ++i)
        Require(Same(got[i], expected[i]), "pieces give the same keys as the whole");
    return 0;
}
