// The console laid out anew when the screen's size changes (a buffer-size
// record through OnConsoleInput): geometry and line limit, the newest log
// rows kept bottom-aligned and cut or padded, the typed line cut, and the
// too-small state in which nothing is drawn.
#include "console/console.h"
#include "console/line_editor.h"
#include "port/keys.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace port;

class ScreenLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(80, 25); }

    static void Type(const std::string& text) {
        for (char c : text)
            HandleKey(KeyEvent{true, 1, kVkOemPeriod, c, 0});
    }
    static std::string Line() { return console.historyText[console.currentSlot]; }
    static int Cursor() { return console.historyCursor[console.currentSlot]; }

    // The size changes and the console reads the record.
    static void Resize(int width, int height) {
        fake::ResizeScreen(width, height);
        OnConsoleInput(nullptr, 0, nullptr);
    }

    // Rows of the screen as they stand now, whole.
    static std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (int y = 0; y < fake::Get().screen.Height(); ++y)
            rows.push_back(fake::Row(y));
        return rows;
    }

    // Every cell holds attribute 7 and nothing the resize left behind.
    static void ExpectRedrawnWhole() {
        const ScreenGrid& screen = fake::Get().screen;
        for (int y = 0; y < screen.Height(); ++y)
            for (int x = 0; x < screen.Width(); ++x) {
                ASSERT_NE('~', screen.At(x, y).character) << "cell " << x << "," << y;
                ASSERT_EQ(7, screen.At(x, y).attributes) << "cell " << x << "," << y;
            }
    }
};

// Fills the log with `count` one-row messages m0, m1, ...
void LogMessages(int first, int count) {
    for (int i = first; i < first + count; ++i)
        PrintMessage("m%d", i);
}

TEST_F(ScreenLayoutTest, WiderAndTallerKeepsEveryRowBottomAlignedAndPadded) {
    LogMessages(0, 30); // rows 0..23 hold m6..m29
    const std::vector<std::string> before = Rows();
    Type("hello");

    Resize(100, 30);
    EXPECT_EQ(99, console.logRect.Right);
    EXPECT_EQ(28, console.logRect.Bottom);
    EXPECT_EQ(28, console.clipRect.Bottom);
    EXPECT_EQ(28, console.logOrigin.Y);
    EXPECT_EQ(29, console.inputOrigin.Y);
    EXPECT_EQ(100, ScreenWidth());
    EXPECT_EQ(30, ScreenHeight());
    ExpectRedrawnWhole();

    // The 24 rows are rows 5..28 now, padded; rows 0..4 are blank.
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(std::string(100, ' '), fake::Row(y)) << "row " << y;
    for (int y = 0; y < 24; ++y)
        EXPECT_EQ(before[static_cast<std::size_t>(y)] + std::string(20, ' '), fake::Row(y + 5))
            << "row " << y + 5;
    EXPECT_EQ("m29", test::LastMessage());
    // The input line is drawn again, the cursor after it.
    EXPECT_EQ("hello", test::TrimRight(fake::Row(29)));
    EXPECT_EQ(5, fake::Get().cursor.X);
    EXPECT_EQ(29, fake::Get().cursor.Y);

    // New messages go to the new newest row; a line holds 98 characters.
    PrintMessage("after");
    EXPECT_EQ("after", test::LastMessage());
    EXPECT_TRUE(test::IsTimeStamp(fake::Row(28).substr(0, 19)));
    Type(std::string(200, 'x'));
    EXPECT_EQ(98, static_cast<int>(Line().size()));
}

TEST_F(ScreenLayoutTest, NarrowerAndShorterKeepsTheNewestRowsCutAndCutsTheLine) {
    LogMessages(0, 10);
    WriteLogLine(std::string(59, 'a') + "B"); // fills row 23 to column 79
    const std::vector<std::string> before = Rows();
    Type(std::string(70, 'q'));
    ASSERT_EQ(70, Cursor());

    Resize(60, 20);
    EXPECT_EQ(59, console.logRect.Right);
    EXPECT_EQ(18, console.logOrigin.Y);
    EXPECT_EQ(19, console.inputOrigin.Y);
    ExpectRedrawnWhole();
    // Rows 5..23 of the old screen, cut to 60 columns, are rows 0..18.
    for (int y = 0; y < 19; ++y)
        EXPECT_EQ(before[static_cast<std::size_t>(y + 5)].substr(0, 60), fake::Row(y))
            << "row " << y;
    EXPECT_EQ(std::string(40, 'a'), fake::Row(18).substr(20)) << "cut, not wrapped again";

    // The typed line keeps its first 58 characters.
    EXPECT_EQ(std::string(58, 'q'), Line());
    EXPECT_EQ(58, console.historyLength[console.currentSlot]);
    EXPECT_EQ(58, Cursor());
    EXPECT_EQ(std::string(58, 'q'), test::TrimRight(fake::Row(19)));
    EXPECT_EQ(58, fake::Get().cursor.X);
    EXPECT_EQ(19, fake::Get().cursor.Y);
    Type("z");
    EXPECT_EQ(std::string(58, 'q'), Line()) << "the line is full at 58";

    // Messages are laid out for 60 columns: 40 characters per row.
    WriteLogLine(std::string(41, 'w'));
    EXPECT_EQ(std::string(40, 'w'), fake::Row(17).substr(20));
    EXPECT_EQ(std::string(20, ' ') + "w" + std::string(39, ' '), fake::Row(18));
}

TEST_F(ScreenLayoutTest, ALineEnteredOnAWiderScreenIsCutWhenRecalled) {
    Type(std::string(70, 'r'));
    HandleKey(KeyEvent{true, 1, kVkReturn, '\r', 0});
    Resize(40, 10);
    HandleKey(KeyEvent{true, 1, kVkUp, 0, 0});
    EXPECT_EQ(std::string(38, 'r'), Line());
    EXPECT_EQ(38, Cursor());
    EXPECT_EQ(std::string(38, 'r'), test::TrimRight(fake::Row(9)));
}

TEST_F(ScreenLayoutTest, TooSmallDrawsNothingAndTheScreenComesBackLater) {
    LogMessages(0, 5);
    Type("abc");

    fake::ResizeScreen(15, 4);
    const int calls = fake::Get().outputCalls;
    OnConsoleInput(nullptr, 0, nullptr);
    EXPECT_FALSE(ScreenShown());
    // The layout of the last large enough screen stays.
    EXPECT_EQ(79, console.logRect.Right);
    EXPECT_EQ(24, console.inputOrigin.Y);

    // Messages, typing, cls and completion go on without drawing.
    PrintMessage("while small %d", 1);
    Type("d");
    HandleKey(KeyEvent{true, 1, kVkLeft, 0, 0});
    HandleKey(KeyEvent{true, 1, kVkTab, '\t', 0});
    PrintMessage("while small %d", 2);
    EXPECT_EQ(calls, fake::Get().outputCalls) << "something was drawn on a 15 x 4 screen";
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(std::string(15, '~'), fake::Row(y));
    EXPECT_EQ("abcd", Line());
    EXPECT_EQ(3, Cursor());

    // Still too small: 20 columns, or a single row.
    Resize(20, 30);
    EXPECT_FALSE(ScreenShown());
    Resize(80, 1);
    EXPECT_FALSE(ScreenShown());
    EXPECT_EQ(calls, fake::Get().outputCalls);

    // Large enough again: the newest rows, those logged meanwhile included.
    Resize(80, 25);
    EXPECT_TRUE(ScreenShown());
    ExpectRedrawnWhole();
    const std::vector<std::string> messages = test::LogMessages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ("while small 1", messages[messages.size() - 3]);
    EXPECT_EQ("Could not find a matching console command", messages[messages.size() - 2]);
    EXPECT_EQ("while small 2", messages.back());
    EXPECT_EQ("m0", messages.front());
    EXPECT_EQ("abcd", test::TrimRight(fake::Row(24)));
    EXPECT_EQ(3, fake::Get().cursor.X);
    EXPECT_EQ(24, fake::Get().cursor.Y);
}

TEST_F(ScreenLayoutTest, TheSmallestScreenIs21By2) {
    PrintMessage("0123456789");
    Type(std::string(30, 's'));
    Resize(21, 2);
    EXPECT_TRUE(ScreenShown());
    ExpectRedrawnWhole();
    EXPECT_TRUE(test::IsTimeStamp(fake::Row(0).substr(0, 19)));
    EXPECT_EQ(" 0", fake::Row(0).substr(19));
    EXPECT_EQ(std::string(19, 's'), test::TrimRight(fake::Row(1)));
    EXPECT_EQ(19, Cursor());
    // One character of text per row.
    PrintMessage("xy");
    EXPECT_EQ(std::string(20, ' ') + "y", fake::Row(0));
}

TEST_F(ScreenLayoutTest, ClsWhileSmallIsKeptForLater) {
    LogMessages(0, 3);
    Resize(10, 10);
    ClsCommand(nullptr);
    Resize(80, 25);
    EXPECT_TRUE(test::LogMessages().empty());
    for (int y = 0; y < 24; ++y)
        EXPECT_EQ(std::string(80, ' '), fake::Row(y));
}

TEST_F(ScreenLayoutTest, KeysQueuedWithTheRecordAreHandledOnTheNewLayout) {
    fake::ResizeScreen(50, 12);
    fake::PushText("help");
    OnConsoleInput(nullptr, 0, nullptr);
    EXPECT_EQ("help", test::TrimRight(fake::Row(11)));
    EXPECT_EQ(4, fake::Get().cursor.X);
    EXPECT_EQ(11, fake::Get().cursor.Y);
    // One pause per call, as before.
    EXPECT_EQ(1u, fake::Get().sleeps.size());
}

TEST_F(ScreenLayoutTest, OtherRecordsAreStillDropped) {
    InputRecord focus{};
    focus.eventType = 16; // FOCUS_EVENT
    fake::PushRecord(focus);
    const int calls = fake::Get().outputCalls;
    OnConsoleInput(nullptr, 0, nullptr);
    EXPECT_EQ(calls, fake::Get().outputCalls);
}

} // namespace
