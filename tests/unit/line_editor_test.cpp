#include "console/line_editor.h"

#include "app/startup.h"
#include "loop/event_loop.h"

#include "console/arg_reader.h"
#include "console/command_table.h"
#include "console/console.h"
#include "port/keys.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace port;

std::vector<std::string> executed;

void Remember(ArgReader* args) {
    std::string words;
    while (const char* token = args->NextToken())
        words += std::string(words.empty() ? "" : " ") + token;
    executed.push_back(words);
}

class LineEditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::Reset(80, 25);
        executed.clear();
        AddCommand("run", "Remembers its arguments", Remember);
    }

    static void Key(std::uint16_t vk, std::uint32_t state = 0, char c = 0) {
        HandleKey(KeyEvent{true, 1, vk, c, state});
    }
    static void Type(const std::string& text) {
        for (char c : text)
            HandleKey(KeyEvent{true, 1, kVkOemPeriod, c, 0});
    }
    static std::string Line() { return console.historyText[console.currentSlot]; }
    static int Length() { return console.historyLength[console.currentSlot]; }
    static int Cursor() { return console.historyCursor[console.currentSlot]; }
    static std::string InputRow() { return test::TrimRight(fake::Row(24)); }
    // The line, its length and cursor, what the row shows and where the cursor stands.
    static void ExpectState(const std::string& text, int cursor) {
        EXPECT_EQ(text, Line());
        EXPECT_EQ(static_cast<int>(text.size()), Length());
        EXPECT_EQ(cursor, Cursor());
        EXPECT_EQ(test::TrimRight(text), InputRow());
        EXPECT_EQ(cursor, fake::Get().cursor.X);
        EXPECT_EQ(24, fake::Get().cursor.Y);
    }
    // Sets a line as if typed, with the cursor at `cursor`.
    static void Start(const std::string& text, int cursor) {
        Type(text);
        Key(kVkHome);
        for (int i = 0; i < cursor; ++i)
            Key(kVkRight);
    }
};

constexpr std::uint32_t kCtrl = kLeftCtrlPressed;

TEST_F(LineEditorTest, TypingInsertsAtTheCursorAndRedrawsTheRow) {
    Type("stp 1");
    ExpectState("stp 1", 5);
    Key(kVkLeft);
    Key(kVkLeft);
    Key(kVkLeft);
    Type("o");
    ExpectState("stop 1", 3);
}

TEST_F(LineEditorTest, KeysThatCannotActChangeNothingAndCallNothing) {
    const int before = fake::Get().outputCalls;
    Key(kVkBack);
    Key(kVkBack, kCtrl);
    Key(kVkDelete);
    Key(kVkDelete, kCtrl);
    Key(kVkLeft);
    Key(kVkHome);
    Key(kVkRight);
    Key(kVkEnd);
    Key(kVkEscape);
    Key(kVkReturn);
    Key(kVkShift);                           // no character
    Key(0x70);                               // F1: no character
    Key('C', kCtrl, '\x03');                 // Ctrl+C types nothing
    Key('Q', kCtrl | kRightAltPressed, '@'); // AltGr arrives with Ctrl held
    EXPECT_EQ(before, fake::Get().outputCalls);
    EXPECT_EQ("", Line());
    EXPECT_TRUE(executed.empty());
    EXPECT_EQ(1, console.usedSlots);
}

TEST_F(LineEditorTest, BackspaceAndDeleteRemoveOneCharacter) {
    Start("abcdef", 3);
    Key(kVkBack);
    ExpectState("abdef", 2);
    fake::Get().cursor.X = 77; // Delete must not place the cursor again
    Key(kVkDelete);
    EXPECT_EQ("abef", Line());
    EXPECT_EQ(2, Cursor());
    EXPECT_EQ("abef", InputRow());
    EXPECT_EQ(77, fake::Get().cursor.X);
    Key(kVkEnd);
    const int before = fake::Get().outputCalls;
    Key(kVkDelete);
    EXPECT_EQ(before, fake::Get().outputCalls);
    Key(kVkBack);
    ExpectState("abe", 3);
}

TEST_F(LineEditorTest, CursorKeysMoveWithinTheLineOnly) {
    Type("abc");
    Key(kVkHome);
    ExpectState("abc", 0);
    Key(kVkRight);
    Key(kVkRight);
    ExpectState("abc", 2);
    Key(kVkEnd);
    ExpectState("abc", 3);
    Key(kVkLeft);
    ExpectState("abc", 2);
}

TEST_F(LineEditorTest, WordTargetsOnStopTwoBlanksTwelve) {
    Type("stop  12");
    Key(kVkLeft, kCtrl);
    EXPECT_EQ(6, Cursor());
    Key(kVkLeft, kCtrl);
    EXPECT_EQ(0, Cursor());
    Key(kVkRight, kRightCtrlPressed);
    EXPECT_EQ(6, Cursor());
    Key(kVkRight, kCtrl);
    EXPECT_EQ(8, Cursor());
    EXPECT_EQ(8, fake::Get().cursor.X);

    Key(kVkBack, kCtrl);
    ExpectState("stop  ", 6);
    Key(kVkBack, kCtrl);
    ExpectState("", 0);
}

TEST_F(LineEditorTest, CtrlBackspaceAtTheDigitsAndCtrlDeleteAtTheStartLeaveTheDigits) {
    Start("stop  12", 6);
    Key(kVkBack, kCtrl);
    ExpectState("12", 0);
    Key(kVkEscape);
    Start("stop  12", 0);
    Key(kVkDelete, kCtrl);
    EXPECT_EQ("12", Line());
    EXPECT_EQ(0, Cursor());
}

TEST_F(LineEditorTest, BytesAbove127SeparateWords) {
    Type("ab\xE9"
         "cd");
    Key(kVkLeft, kCtrl);
    EXPECT_EQ(3, Cursor());
    Key(kVkLeft, kCtrl);
    EXPECT_EQ(0, Cursor());
    Key(kVkDelete, kCtrl);
    EXPECT_EQ("cd", Line());
}

TEST_F(LineEditorTest, EscapeEmptiesTheLine) {
    Type("restart 3");
    Key(kVkLeft);
    Key(kVkEscape);
    ExpectState("", 0);
}

TEST_F(LineEditorTest, InsertTogglesTheModeAndTheCursorShapeOnly) {
    fake::Get().cursorInfo = CursorInfo{25, false};
    Type("abcd");
    Key(kVkHome);
    Key(kVkInsert, kCtrl | kShiftPressed);
    EXPECT_FALSE(console.insertMode);
    EXPECT_EQ(99u, fake::Get().cursorInfo.size);
    EXPECT_FALSE(fake::Get().cursorInfo.visible) << "visibility is written back as read";
    Type("XY");
    ExpectState("XYcd", 2);
    Key(kVkEnd);
    Type("e");
    ExpectState("XYcde", 5);
    Key(kVkInsert);
    EXPECT_TRUE(console.insertMode);
    EXPECT_EQ(19u, fake::Get().cursorInfo.size);
    Key(kVkHome);
    Type("_");
    ExpectState("_XYcde", 1);
}

TEST_F(LineEditorTest, ALineStopsAt78CharactersIn80ColumnsInBothModes) {
    Type(std::string(100, 'x'));
    EXPECT_EQ(78, Length());
    EXPECT_EQ(78, fake::Get().cursor.X);
    EXPECT_EQ(' ', fake::Row(24)[79]) << "column 79 is never written";
    Key(kVkHome);
    Type("y");
    EXPECT_EQ(std::string(78, 'x'), Line());
    Key(kVkInsert);
    Type("y");
    EXPECT_EQ(std::string(78, 'x'), Line()) << "overwrite is refused at the limit too";
    EXPECT_EQ(0, Cursor());
}

TEST_F(LineEditorTest, AWideScreenLimitsALineTo255) {
    test::Reset(300, 10);
    Type(std::string(300, 'w'));
    EXPECT_EQ(255, Length());
    EXPECT_EQ('\0', console.historyText[0][255]);
}

TEST_F(LineEditorTest, EnterRunsTheLineWhileItStaysOnTheRowThenStepsTheRing) {
    static std::string rowDuringCommand;
    AddCommand("peek", "", [](ArgReader*) { rowDuringCommand = test::TrimRight(fake::Row(24)); });
    Type("run 1 2");
    Key(kVkLeft);
    Key(kVkReturn);
    EXPECT_EQ((std::vector<std::string>{"1 2"}), executed);
    EXPECT_EQ(1, console.currentSlot);
    EXPECT_EQ(2, console.usedSlots);
    EXPECT_EQ(1, console.browseSlot);
    ExpectState("", 0);
    EXPECT_EQ("run 1 2", std::string(console.historyText[0])) << "the slot keeps the line";
    EXPECT_EQ(6, console.historyCursor[0]);

    Type("peek");
    Key(kVkReturn);
    EXPECT_EQ("peek", rowDuringCommand);
}

TEST_F(LineEditorTest, UpAndDownWithNoEarlierLine) {
    Type("typed");
    Key(kVkUp);
    ExpectState("typed", 5);
    Key(kVkDown);
    ExpectState("", 0);
}

TEST_F(LineEditorTest, RecallBringsBackTheCursorAndOverwritesTheTypedText) {
    Type("run first");
    Key(kVkHome);
    Key(kVkRight);
    Key(kVkReturn);
    Type("run second");
    Key(kVkReturn);
    Type("draft");
    Key(kVkUp);
    ExpectState("run second", 10);
    Key(kVkPrior);
    ExpectState("run first", 1);
    Key(kVkPrior);
    ExpectState("run first", 1); // the current slot itself: nothing changes
    Key(kVkNext);
    ExpectState("", 0); // the browse slot is the newest: the line empties
    Key(kVkUp);
    ExpectState("run second", 10);
    Key(kVkDown);
    ExpectState("run second", 10); // stepped onto the current slot itself
    Key(kVkDown);
    ExpectState("", 0);
}

TEST_F(LineEditorTest, EveryEnteredLineIsStoredDuplicatesIncluded) {
    for (const char* line : {"run a", "run a", "nothing", "help", "   "}) {
        Type(line);
        Key(kVkReturn);
    }
    EXPECT_EQ(6, console.usedSlots);
    Key(kVkUp);
    EXPECT_EQ("   ", Line());
    Key(kVkUp);
    EXPECT_EQ("help", Line());
    Key(kVkUp);
    EXPECT_EQ("nothing", Line());
    Key(kVkUp);
    EXPECT_EQ("run a", Line());
    Key(kVkReturn);
    EXPECT_EQ(7, console.usedSlots);
    EXPECT_EQ(3u, executed.size());
}

TEST_F(LineEditorTest, AFullRingDropsTheOldestLine) {
    for (int i = 0; i < 127; ++i) {
        Type("run " + std::to_string(i));
        Key(kVkReturn);
    }
    EXPECT_EQ(128, console.usedSlots);
    EXPECT_EQ(127, console.currentSlot);
    // Right after an Enter, with slot 127 current, Down empties the line.
    Type("x");
    Key(kVkDown);
    ExpectState("", 0);

    Type("run 127");
    Key(kVkReturn);
    EXPECT_EQ(128, console.usedSlots);
    EXPECT_EQ(0, console.currentSlot) << "the oldest slot is reused";
    EXPECT_EQ("", Line()) << "and its line is gone";

    // Now Down recalls the oldest line left, in slot 1.
    Key(kVkDown);
    ExpectState("run 1", 5);
    EXPECT_EQ(1, console.browseSlot);

    // Down empties the line exactly when the browse slot is 127.
    for (int i = 2; i <= 127; ++i)
        Key(kVkDown);
    EXPECT_EQ(127, console.browseSlot);
    EXPECT_EQ("run 127", Line());
    Key(kVkDown);
    ExpectState("", 0);
    EXPECT_EQ(127, console.browseSlot);

    // Up from slot 0 wraps to 127.
    Key(kVkUp);
    EXPECT_EQ(126, console.browseSlot);
    EXPECT_EQ("run 126", Line());
}

TEST_F(LineEditorTest, OnConsoleInputDrainsEveryRecordAndPausesOnce) {
    InputRecord release{};
    release.eventType = kKeyEventType;
    release.key = KeyEvent{false, 1, 'A', 'a', 0};
    InputRecord mouse{};
    mouse.eventType = 2;
    mouse.key = KeyEvent{true, 1, 'B', 'b', 0};
    fake::PushText("ru");
    fake::PushRecord(release);
    fake::PushRecord(mouse);
    fake::PushKey('N', 'n');
    fake::Get().input.back().key.repeatCount = 5; // acts once
    OnConsoleInput(&waitTable, 0, nullptr);
    EXPECT_EQ("run", Line());
    EXPECT_TRUE(fake::Get().input.empty());
    EXPECT_EQ((std::vector<std::uint32_t>{kInputPauseMs}), fake::Get().sleeps);
}

TEST_F(LineEditorTest, KeysArrivingWhileACommandRunsAreHandledInTheSameCall) {
    AddCommand("slow", "", [](ArgReader*) { fake::PushText("run late"); });
    fake::PushText("slow");
    fake::PushKey(kVkReturn, '\r');
    OnConsoleInput(&waitTable, 0, nullptr);
    EXPECT_EQ("run late", Line());
    EXPECT_EQ(1u, fake::Get().sleeps.size());
}

TEST_F(LineEditorTest, KeysQueuedBehindQuitAreStillHandled) {
    AddCommand("quit", "Quits application", QuitCommand);
    fake::PushText("quit");
    fake::PushKey(kVkReturn, '\r');
    fake::PushText("run after");
    fake::PushKey(kVkReturn, '\r');
    OnConsoleInput(&waitTable, 0, nullptr);
    EXPECT_FALSE(RunningFlag);
    EXPECT_EQ((std::vector<std::string>{"after"}), executed);
}

TEST_F(LineEditorTest, AFailedCountPausesButAFailedReadReturnsAtOnce) {
    fake::Get().consoleAvailable = false;
    OnConsoleInput(&waitTable, 0, nullptr);
    EXPECT_EQ(1u, fake::Get().sleeps.size());

    fake::Get().consoleAvailable = true;
    fake::PushText("ab");
    fake::Get().readFails = true;
    OnConsoleInput(&waitTable, 0, nullptr);
    EXPECT_EQ(1u, fake::Get().sleeps.size());
    EXPECT_EQ("", Line());
}

} // namespace
