// The terminal key decoder over byte strings: every row of the key
// table, the printable characters whose byte values collide with navigation
// key codes, bytes 128..255, split sequences, flushing, unknown sequences,
// and arrival times: a lone ESC against an ESC written with a key.
#include "port/keys.h"
#include "port/posix/terminal/key_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using port::KeyEvent;
using port::posix::KeyDecoder;

namespace {

struct Key {
    std::uint16_t code;
    char ascii;
    std::uint32_t control;
};

bool operator==(const Key& a, const Key& b) {
    return a.code == b.code && a.ascii == b.ascii && a.control == b.control;
}

std::ostream& operator<<(std::ostream& out, const Key& k) {
    return out << "{code " << k.code << ", char "
               << static_cast<int>(static_cast<unsigned char>(k.ascii)) << ", control 0x"
               << std::hex << k.control << std::dec << "}";
}

std::vector<Key> Drain(KeyDecoder& decoder) {
    std::vector<Key> keys;
    while (!decoder.Empty()) {
        KeyEvent e = decoder.Pop();
        EXPECT_TRUE(e.keyDown);
        EXPECT_EQ(e.repeatCount, 1);
        keys.push_back(Key{e.virtualKeyCode, e.asciiChar, e.controlKeyState});
    }
    return keys;
}

// Feeds the bytes, flushes as the back end does when nothing more arrives,
// and returns the keys.
std::vector<Key> Decode(const std::string& bytes) {
    KeyDecoder decoder;
    decoder.Feed(bytes);
    decoder.Flush();
    return Drain(decoder);
}

constexpr std::uint32_t kCtrl = port::kLeftCtrlPressed;
constexpr std::uint32_t kAlt = port::kLeftAltPressed;
constexpr std::uint32_t kShift = port::kShiftPressed;

Key Nav(std::uint16_t code, std::uint32_t control = 0) {
    return Key{code, 0, control};
}

} // namespace

TEST(KeyDecoder, EnterTabBackspace) {
    EXPECT_EQ(Decode("\r"), (std::vector<Key>{{port::kVkReturn, '\r', 0}}));
    EXPECT_EQ(Decode("\n"), (std::vector<Key>{{port::kVkReturn, '\r', 0}}));
    EXPECT_EQ(Decode("\t"), (std::vector<Key>{{port::kVkTab, '\t', 0}}));
    EXPECT_EQ(Decode("\x7f"), (std::vector<Key>{{port::kVkBack, '\b', 0}}));
    EXPECT_EQ(Decode("\x08"), (std::vector<Key>{{port::kVkBack, 0x7f, kCtrl}}));
}

TEST(KeyDecoder, BackspaceIsTheTerminalsEraseCharacter) {
    const Key back{port::kVkBack, '\b', 0};
    const Key ctrlBack{port::kVkBack, 0x7f, kCtrl};
    const Key altBack{port::kVkBack, '\b', kAlt};
    // VERASE as termios gives it; one disabled (0) or unusual leaves DEL.
    for (unsigned char erase : {0x08, 0x7f, 0x00, 0x15}) {
        KeyDecoder decoder;
        decoder.SetEraseByte(erase);
        decoder.Feed(erase == 0x08 ? "\x08\x7f\x1b\x08" : "\x7f\x08\x1b\x7f");
        decoder.Flush();
        EXPECT_EQ(Drain(decoder), (std::vector<Key>{back, ctrlBack, altBack})) << int{erase};
    }
}

TEST(KeyDecoder, RxvtModifiedEditingKeys) {
    const std::vector<std::pair<char, std::uint32_t>> finals{
        {'^', kCtrl}, {'$', kShift}, {'@', kCtrl | kShift}};
    const std::vector<std::pair<const char*, std::uint16_t>> keys{
        {"2", port::kVkInsert}, {"3", port::kVkDelete}, {"5", port::kVkPrior},
        {"6", port::kVkNext},   {"7", port::kVkHome},   {"8", port::kVkEnd}};
    for (auto [final, held] : finals)
        for (auto [number, code] : keys)
            EXPECT_EQ(Decode(std::string("\x1b[") + number + final),
                      (std::vector<Key>{Nav(code, held)}))
                << number << final;
    // With Alt before it, after it more keys; an unknown number is dropped.
    EXPECT_EQ(Decode("\x1b\x1b[3^x"),
              (std::vector<Key>{Nav(port::kVkDelete, kCtrl | kAlt), {'X', 'x', 0}}));
    EXPECT_EQ(Decode("\x1b[9$\x1b[3$"), (std::vector<Key>{Nav(port::kVkDelete, kShift)}));
}

TEST(KeyDecoder, LoneEscapeBecomesEscapeOnFlush) {
    KeyDecoder decoder;
    decoder.Feed("\x1b");
    EXPECT_TRUE(decoder.InSequence());
    EXPECT_TRUE(decoder.Empty());
    decoder.Flush();
    EXPECT_FALSE(decoder.InSequence());
    EXPECT_EQ(Drain(decoder), (std::vector<Key>{{port::kVkEscape, 0x1b, 0}}));
}

TEST(KeyDecoder, TwoEscapesInOneWriteAreEscapeWithAlt) {
    // Alt+Escape as a terminal that prefixes Alt with ESC sends it.
    EXPECT_EQ(Decode("\x1b\x1b"), (std::vector<Key>{{port::kVkEscape, 0x1b, kAlt}}));
    // Three: Alt+Escape, then a lone Escape.
    EXPECT_EQ(Decode("\x1b\x1b\x1b"),
              (std::vector<Key>{{port::kVkEscape, 0x1b, kAlt}, {port::kVkEscape, 0x1b, 0}}));
}

TEST(KeyDecoder, Arrows) {
    EXPECT_EQ(Decode("\x1b[A"), (std::vector<Key>{Nav(port::kVkUp)}));
    EXPECT_EQ(Decode("\x1b[B"), (std::vector<Key>{Nav(port::kVkDown)}));
    EXPECT_EQ(Decode("\x1b[C"), (std::vector<Key>{Nav(port::kVkRight)}));
    EXPECT_EQ(Decode("\x1b[D"), (std::vector<Key>{Nav(port::kVkLeft)}));
    EXPECT_EQ(Decode("\x1bOA"), (std::vector<Key>{Nav(port::kVkUp)}));
    EXPECT_EQ(Decode("\x1bOB"), (std::vector<Key>{Nav(port::kVkDown)}));
    EXPECT_EQ(Decode("\x1bOC"), (std::vector<Key>{Nav(port::kVkRight)}));
    EXPECT_EQ(Decode("\x1bOD"), (std::vector<Key>{Nav(port::kVkLeft)}));
}

TEST(KeyDecoder, WordMovesCarryCtrlAndAltIsOnlyReported) {
    for (const char* modifier : {"5", "7"}) {
        SCOPED_TRACE(modifier);
        std::vector<Key> right = Decode(std::string("\x1b[1;") + modifier + "C");
        std::vector<Key> left = Decode(std::string("\x1b[1;") + modifier + "D");
        ASSERT_EQ(right.size(), 1u);
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(right[0].code, port::kVkRight);
        EXPECT_EQ(left[0].code, port::kVkLeft);
        EXPECT_NE(right[0].control & (port::kLeftCtrlPressed | port::kRightCtrlPressed), 0u);
        EXPECT_NE(left[0].control & (port::kLeftCtrlPressed | port::kRightCtrlPressed), 0u);
    }
    EXPECT_EQ(Decode("\x1b[1;5C"), (std::vector<Key>{Nav(port::kVkRight, kCtrl)}));
    EXPECT_EQ(Decode("\x1b[1;7D"), (std::vector<Key>{Nav(port::kVkLeft, kCtrl | kAlt)}));
    EXPECT_EQ(Decode("\x1b[1;2D"), (std::vector<Key>{Nav(port::kVkLeft, kShift)}));
    // Alt+Left and Alt+Right are the plain keys, as on Windows: Alt is
    // reported and never looked at.
    EXPECT_EQ(Decode("\x1b[1;3D"), (std::vector<Key>{Nav(port::kVkLeft, kAlt)}));
    EXPECT_EQ(Decode("\x1b[1;3C"), (std::vector<Key>{Nav(port::kVkRight, kAlt)}));
}

TEST(KeyDecoder, EscapePrefixedSequencesAreTheKeyWithAlt) {
    // PuTTY and rxvt send Alt+Left as ESC ESC [ D.
    EXPECT_EQ(Decode("\x1b\x1b[D"), (std::vector<Key>{Nav(port::kVkLeft, kAlt)}));
    EXPECT_EQ(Decode("\x1b\x1bOC"), (std::vector<Key>{Nav(port::kVkRight, kAlt)}));
    EXPECT_EQ(Decode("\x1b\x1b[3~"), (std::vector<Key>{Nav(port::kVkDelete, kAlt)}));
    EXPECT_EQ(Decode("\x1b\x1b[1;5D"), (std::vector<Key>{Nav(port::kVkLeft, kAlt | kCtrl)}));
    // The Alt ends with the key: what follows is plain.
    EXPECT_EQ(Decode("\x1b\x1b[Dx"), (std::vector<Key>{Nav(port::kVkLeft, kAlt), {'X', 'x', 0}}));
}

TEST(KeyDecoder, ShiftTabIsTab) {
    EXPECT_EQ(Decode("\x1b[Z"), (std::vector<Key>{{port::kVkTab, '\t', kShift}}));
}

TEST(KeyDecoder, RxvtArrows) {
    EXPECT_EQ(Decode("\x1bOa"), (std::vector<Key>{Nav(port::kVkUp, kCtrl)}));
    EXPECT_EQ(Decode("\x1bOb"), (std::vector<Key>{Nav(port::kVkDown, kCtrl)}));
    EXPECT_EQ(Decode("\x1bOc"), (std::vector<Key>{Nav(port::kVkRight, kCtrl)}));
    EXPECT_EQ(Decode("\x1bOd"), (std::vector<Key>{Nav(port::kVkLeft, kCtrl)}));
    EXPECT_EQ(Decode("\x1b[a"), (std::vector<Key>{Nav(port::kVkUp, kShift)}));
    EXPECT_EQ(Decode("\x1b[b"), (std::vector<Key>{Nav(port::kVkDown, kShift)}));
    EXPECT_EQ(Decode("\x1b[c"), (std::vector<Key>{Nav(port::kVkRight, kShift)}));
    EXPECT_EQ(Decode("\x1b[d"), (std::vector<Key>{Nav(port::kVkLeft, kShift)}));
    // With parameters they are nothing known.
    EXPECT_TRUE(Decode("\x1b[1;5d").empty());
}

TEST(KeyDecoder, LinuxConsoleFunctionKeysTypeNothing) {
    for (char final = 'A'; final <= 'E'; ++final) {
        SCOPED_TRACE(final);
        EXPECT_EQ(Decode(std::string("\x1b[[") + final),
                  (std::vector<Key>{Nav(static_cast<std::uint16_t>(port::kVkF1 + final - 'A'))}));
    }
    // Any other byte after ESC [ [ is a key of its own, as before.
    EXPECT_EQ(Decode("\x1b[[x"), (std::vector<Key>{{'X', 'x', 0}}));
    EXPECT_TRUE(Decode("\x1b[[").empty());
}

TEST(KeyDecoder, HomeAndEnd) {
    for (const char* home : {"\x1b[H", "\x1bOH", "\x1b[1~", "\x1b[7~"})
        EXPECT_EQ(Decode(home), (std::vector<Key>{Nav(port::kVkHome)})) << home + 1;
    for (const char* end : {"\x1b[F", "\x1bOF", "\x1b[4~", "\x1b[8~"})
        EXPECT_EQ(Decode(end), (std::vector<Key>{Nav(port::kVkEnd)})) << end + 1;
}

TEST(KeyDecoder, EditingBlock) {
    EXPECT_EQ(Decode("\x1b[2~"), (std::vector<Key>{Nav(port::kVkInsert)}));
    EXPECT_EQ(Decode("\x1b[3~"), (std::vector<Key>{Nav(port::kVkDelete)}));
    EXPECT_EQ(Decode("\x1b[5~"), (std::vector<Key>{Nav(port::kVkPrior)}));
    EXPECT_EQ(Decode("\x1b[6~"), (std::vector<Key>{Nav(port::kVkNext)}));
    EXPECT_EQ(Decode("\x1b[3;5~"), (std::vector<Key>{Nav(port::kVkDelete, kCtrl)}));
}

TEST(KeyDecoder, ModifiersOnOtherKeys) {
    EXPECT_EQ(Decode("\x1b[1;5A"), (std::vector<Key>{Nav(port::kVkUp, kCtrl)}));
    EXPECT_EQ(Decode("\x1b[1;5H"), (std::vector<Key>{Nav(port::kVkHome, kCtrl)}));
    EXPECT_EQ(Decode("\x1b[5;5~"), (std::vector<Key>{Nav(port::kVkPrior, kCtrl)}));
    EXPECT_EQ(Decode("\x1b[1;3A"), (std::vector<Key>{Nav(port::kVkUp, kAlt)}));
}

TEST(KeyDecoder, CtrlLetters) {
    for (int byte = 1; byte <= 26; ++byte) {
        if (byte == 8 || byte == 9 || byte == 10 || byte == 13)
            continue;
        SCOPED_TRACE(byte);
        std::vector<Key> keys = Decode(std::string(1, static_cast<char>(byte)));
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(keys[0].code, 'A' + byte - 1);
        EXPECT_EQ(keys[0].ascii, static_cast<char>(byte));
        EXPECT_EQ(keys[0].control, kCtrl);
    }
    // Ctrl+C is a key, not a signal.
    EXPECT_EQ(Decode("\x03"), (std::vector<Key>{{'C', 0x03, kCtrl}}));
}

TEST(KeyDecoder, LettersDigitsAndSpace) {
    for (char c = 'a'; c <= 'z'; ++c)
        EXPECT_EQ(Decode(std::string(1, c)),
                  (std::vector<Key>{{static_cast<std::uint16_t>(c - 32), c, 0}}));
    for (char c = 'A'; c <= 'Z'; ++c)
        EXPECT_EQ(Decode(std::string(1, c)),
                  (std::vector<Key>{{static_cast<std::uint16_t>(c), c, kShift}}));
    for (char c = '0'; c <= '9'; ++c)
        EXPECT_EQ(Decode(std::string(1, c)),
                  (std::vector<Key>{{static_cast<std::uint16_t>(c), c, 0}}));
    EXPECT_EQ(Decode(" "), (std::vector<Key>{{port::kVkSpace, ' ', 0}}));
}

TEST(KeyDecoder, PunctuationUsesUsLayoutCodes) {
    struct Row {
        char c;
        std::uint16_t code;
        bool shift;
    };
    const Row rows[] = {
        {'!', '1', true},  {'@', '2', true}, {'#', '3', true},   {'$', '4', true},
        {'%', '5', true},  {'^', '6', true}, {'&', '7', true},   {'*', '8', true},
        {'(', '9', true},  {')', '0', true}, {';', 186, false},  {':', 186, true},
        {'=', 187, false}, {'+', 187, true}, {',', 188, false},  {'<', 188, true},
        {'-', 189, false}, {'_', 189, true}, {'.', 190, false},  {'>', 190, true},
        {'/', 191, false}, {'?', 191, true}, {'`', 192, false},  {'~', 192, true},
        {'[', 219, false}, {'{', 219, true}, {'\\', 220, false}, {'|', 220, true},
        {']', 221, false}, {'}', 221, true}, {'\'', 222, false}, {'"', 222, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(1, row.c));
        EXPECT_EQ(Decode(std::string(1, row.c)),
                  (std::vector<Key>{{row.code, row.c, row.shift ? kShift : 0u}}));
    }
}

TEST(KeyDecoder, PrintablesNeverActAsNavigationKeys) {
    const std::uint16_t navigation[] = {
        port::kVkPrior, port::kVkNext,  port::kVkEnd,  port::kVkHome,   port::kVkLeft,
        port::kVkUp,    port::kVkRight, port::kVkDown, port::kVkInsert, port::kVkDelete};
    for (int byte = 32; byte < 127; ++byte) {
        std::vector<Key> keys = Decode(std::string(1, static_cast<char>(byte)));
        ASSERT_EQ(keys.size(), 1u) << byte;
        EXPECT_EQ(keys[0].ascii, static_cast<char>(byte));
        EXPECT_NE(keys[0].code, 0) << byte;
        for (std::uint16_t code : navigation)
            EXPECT_NE(keys[0].code, code) << "byte " << byte;
    }
    // The ones whose byte value is a navigation code, spelled out.
    EXPECT_EQ(Decode("!#$%&'(-.")[0].code, '1');
    std::vector<Key> keys = Decode("!#$%&'(-.");
    ASSERT_EQ(keys.size(), 9u);
    EXPECT_EQ(keys[1].code, '3');
    EXPECT_EQ(keys[2].code, '4');
    EXPECT_EQ(keys[3].code, '5');
    EXPECT_EQ(keys[4].code, '7');
    EXPECT_EQ(keys[5].code, 222);
    EXPECT_EQ(keys[6].code, '9');
    EXPECT_EQ(keys[7].code, 189);
    EXPECT_EQ(keys[8].code, 190);
}

TEST(KeyDecoder, HighBytesHaveNoKeyCode) {
    for (int byte = 128; byte < 256; ++byte) {
        std::vector<Key> keys = Decode(std::string(1, static_cast<char>(byte)));
        ASSERT_EQ(keys.size(), 1u) << byte;
        EXPECT_EQ(keys[0], (Key{0, static_cast<char>(byte), 0})) << byte;
    }
}

TEST(KeyDecoder, AltWithPrintable) {
    EXPECT_EQ(Decode("\x1b"
                     "a"),
              (std::vector<Key>{{'A', 'a', kAlt}}));
    EXPECT_EQ(Decode("\x1b"
                     "B"),
              (std::vector<Key>{{'B', 'B', kAlt | kShift}}));
    EXPECT_EQ(Decode("\x1b."), (std::vector<Key>{{190, '.', kAlt}}));
}

TEST(KeyDecoder, EscapeAndTextReadTogetherAreEscapeAndTheText) {
    // A terminal writes one key at a time: more than one key in a read means
    // writes that waited together, and ESC before text is then Escape.
    EXPECT_EQ(Decode("\x1bxyz"),
              (std::vector<Key>{
                  {port::kVkEscape, 0x1b, 0}, {'X', 'x', 0}, {'Y', 'y', 0}, {'Z', 'z', 0}}));
    EXPECT_EQ(Decode("ab\x1b\rc"), (std::vector<Key>{{'A', 'a', 0},
                                                     {'B', 'b', 0},
                                                     {port::kVkEscape, 0x1b, 0},
                                                     {port::kVkReturn, '\r', 0},
                                                     {'C', 'c', 0}}));
    // Sequences keep their meaning wherever they stand.
    EXPECT_EQ(Decode("\x1b[Dx\x1b\x1b[Cy"),
              (std::vector<Key>{
                  Nav(port::kVkLeft), {'X', 'x', 0}, Nav(port::kVkRight, kAlt), {'Y', 'y', 0}}));
}

TEST(KeyDecoder, SplitSequenceIsOneKey) {
    const std::string sequences[] = {"\x1b[A", "\x1b[1;5C", "\x1b[3;5~", "\x1bOH", "\x1b[6~"};
    for (const std::string& sequence : sequences) {
        for (std::size_t cut = 1; cut < sequence.size(); ++cut) {
            KeyDecoder whole;
            whole.Feed(sequence);
            KeyDecoder split;
            split.Feed(sequence.substr(0, cut));
            EXPECT_TRUE(split.Empty());
            EXPECT_TRUE(split.InSequence());
            split.Feed(sequence.substr(cut));
            EXPECT_FALSE(split.InSequence());
            EXPECT_EQ(Drain(split), Drain(whole)) << "cut at " << cut;
        }
    }
}

TEST(KeyDecoder, IncompleteSequenceIsDroppedOnFlush) {
    EXPECT_TRUE(Decode("\x1b[").empty());
    EXPECT_TRUE(Decode("\x1b[1;5").empty());
    EXPECT_TRUE(Decode("\x1bO").empty());
    // What follows the flush is decoded afresh.
    KeyDecoder decoder;
    decoder.Feed("\x1b[1");
    decoder.Flush();
    decoder.Feed("x");
    EXPECT_EQ(Drain(decoder), (std::vector<Key>{{'X', 'x', 0}}));
}

TEST(KeyDecoder, UnknownSequencesAreDroppedWhole) {
    const char* unknown[] = {
        "\x1b[15~",          // F5
        "\x1b[200~",         // bracketed paste start
        "\x1bOP",            // F1
        "\x1b[I",            // focus in
        "\x1b[<0;12;5M",     // SGR mouse report
        "\x1b[?1;2c",        // device attributes reply
        "\x1b[12;40R",       // cursor position report
        "\x1b[1;2;3;4;5;6A", // too many parameters
        "\x1b[1:5A",         // sub-parameters
        "\x1b[ 1A",          // intermediate before a parameter
        "\x1b[2 q",          // intermediates
    };
    for (const char* sequence : unknown) {
        SCOPED_TRACE(sequence + 1);
        EXPECT_TRUE(Decode(sequence).empty());
        // The text around it is intact.
        std::vector<Key> keys = Decode(std::string("a") + sequence + "b");
        ASSERT_EQ(keys.size(), 2u);
        EXPECT_EQ(keys[0].ascii, 'a');
        EXPECT_EQ(keys[1].ascii, 'b');
    }
}

TEST(KeyDecoder, OverlongSequenceIsDroppedWhole) {
    std::string sequence = "\x1b[" + std::string(100, '1') + "A";
    std::vector<Key> keys = Decode(sequence + "z");
    EXPECT_EQ(keys, (std::vector<Key>{{'Z', 'z', 0}}));
}

TEST(KeyDecoder, ControlByteInsideSequenceEndsIt) {
    // The broken sequence is dropped; the control byte is still a key.
    EXPECT_EQ(Decode("\x1b[1\r"), (std::vector<Key>{{port::kVkReturn, '\r', 0}}));
    // An ESC starts a new sequence.
    EXPECT_EQ(Decode("\x1b[1\x1b[B"), (std::vector<Key>{Nav(port::kVkDown)}));
}

TEST(KeyDecoder, MixedStream) {
    std::vector<Key> keys = Decode("stop 1\x1b[D\x1b[3~\r");
    ASSERT_EQ(keys.size(), 9u);
    EXPECT_EQ(keys[0], (Key{'S', 's', 0}));
    EXPECT_EQ(keys[4], (Key{port::kVkSpace, ' ', 0}));
    EXPECT_EQ(keys[5], (Key{'1', '1', 0}));
    EXPECT_EQ(keys[6], Nav(port::kVkLeft));
    EXPECT_EQ(keys[7], Nav(port::kVkDelete));
    EXPECT_EQ(keys[8], (Key{port::kVkReturn, '\r', 0}));
}

// --- arrival times ------------------------------------------------------------

constexpr port::posix::Micros kGap = port::posix::kOneWriteGapUs;

TEST(KeyDecoderTimes, EscapeAloneThenAKeyLaterIsEscapeAndTheKey) {
    KeyDecoder decoder;
    decoder.FeedAt(1000, "abc");
    decoder.FeedAt(50000, "\x1b");
    EXPECT_TRUE(decoder.InSequence());
    // The key came one human key press later: the ESC was alone.
    decoder.FeedAt(50000 + kGap + 1, "xyz");
    EXPECT_EQ(Drain(decoder), (std::vector<Key>{{'A', 'a', 0},
                                                {'B', 'b', 0},
                                                {'C', 'c', 0},
                                                {port::kVkEscape, 0x1b, 0},
                                                {'X', 'x', 0},
                                                {'Y', 'y', 0},
                                                {'Z', 'z', 0}}));
}

TEST(KeyDecoderTimes, EscapeWrittenTogetherWithAKeyIsThatKey) {
    KeyDecoder decoder;
    decoder.FeedAt(7000, "\x1bx");
    decoder.FeedAt(7000 + kGap + 1, "\x1b\x1b[D");
    decoder.FeedAt(7000 + 3 * kGap, "\x1b[1;3D");
    EXPECT_EQ(
        Drain(decoder),
        (std::vector<Key>{{'X', 'x', kAlt}, Nav(port::kVkLeft, kAlt), Nav(port::kVkLeft, kAlt)}));
}

TEST(KeyDecoderTimes, ASequenceSplitWithinOneWriteGapIsOneKey) {
    const std::string sequences[] = {"\x1b[A",     "\x1b[1;5C", "\x1b[3;5~", "\x1bOH",
                                     "\x1b\x1b[D", "\x1b[[B",   "\x1b[Z"};
    for (const std::string& sequence : sequences) {
        for (std::size_t cut = 1; cut < sequence.size(); ++cut) {
            SCOPED_TRACE(sequence.substr(1) + " cut at " + std::to_string(cut));
            KeyDecoder whole;
            whole.Feed(sequence);
            KeyDecoder split;
            split.FeedAt(100, sequence.substr(0, cut));
            split.Settle(100 + kGap); // not yet: the rest may still come
            EXPECT_TRUE(split.InSequence());
            split.FeedAt(100 + kGap, sequence.substr(cut));
            EXPECT_FALSE(split.InSequence());
            EXPECT_EQ(Drain(split), Drain(whole));
        }
    }
}

TEST(KeyDecoderTimes, ASequenceWhoseRestComesLaterIsDropped) {
    KeyDecoder decoder;
    decoder.FeedAt(0, "\x1b[1;");
    decoder.FeedAt(kGap + 1, "5C");
    EXPECT_EQ(Drain(decoder), (std::vector<Key>{{'5', '5', 0}, {'C', 'C', kShift}}));
}

TEST(KeyDecoderTimes, SettleEndsALoneEscapeOnlyAfterTheGap) {
    KeyDecoder decoder;
    decoder.FeedAt(500, "\x1b");
    EXPECT_EQ(decoder.SettleTime(), 500 + kGap + 1);
    decoder.Settle(500 + kGap);
    EXPECT_TRUE(decoder.InSequence());
    EXPECT_TRUE(decoder.Empty());
    decoder.Settle(decoder.SettleTime());
    EXPECT_FALSE(decoder.InSequence());
    EXPECT_EQ(Drain(decoder), (std::vector<Key>{{port::kVkEscape, 0x1b, 0}}));
    // Settling with nothing unfinished does nothing.
    decoder.Settle(1000000);
    EXPECT_TRUE(decoder.Empty());
}

TEST(KeyDecoderTimes, TwoEscapesPressedApartAreTwoEscapes) {
    KeyDecoder decoder;
    decoder.FeedAt(0, "\x1b");
    decoder.FeedAt(30000, "\x1b");
    decoder.Settle(60000);
    EXPECT_EQ(Drain(decoder),
              (std::vector<Key>{{port::kVkEscape, 0x1b, 0}, {port::kVkEscape, 0x1b, 0}}));
}

TEST(KeyDecoderTimes, UntimedFeedContinuesTheLastWrite) {
    KeyDecoder decoder;
    decoder.FeedAt(10, "\x1b");
    decoder.Feed("x"); // arrived with the ESC
    EXPECT_EQ(Drain(decoder), (std::vector<Key>{{'X', 'x', kAlt}}));
}
