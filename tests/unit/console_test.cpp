#include "console/console.h"

#include "loop/event_loop.h"
#include "loop/wait_table.h"
#include "port/console.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(80, 25); }
};

std::string Cells(int y, int from, int to) {
    return fake::Row(y).substr(from, to - from + 1);
}

TEST_F(ConsoleTest, ConstructionSetsTheGeometryAndPlacesTheCursorOnTheInputRow) {
    test::Reset(80, 300);
    EXPECT_EQ(28u, fake::Get().inputMode);
    EXPECT_EQ(299, fake::Get().cursor.Y);
    EXPECT_EQ(0, fake::Get().cursor.X);
    EXPECT_EQ(298, console.logOrigin.Y);
    EXPECT_EQ(79, console.logRect.Right);
    EXPECT_EQ(298, console.clipRect.Bottom);
    EXPECT_TRUE(console.insertMode);
    PrintMessage("hello");
    EXPECT_EQ("hello", test::TrimRight(fake::Row(298).substr(20)));
}

TEST_F(ConsoleTest, ACursorOfSize99StartsInOverwriteMode) {
    fake::Get().cursorInfo = port::CursorInfo{99, true};
    console = Console();
    SetUpConsole();
    EXPECT_FALSE(console.insertMode);
    fake::Get().cursorInfo = port::CursorInfo{100, true};
    console = Console();
    SetUpConsole();
    EXPECT_TRUE(console.insertMode);
}

TEST_F(ConsoleTest, AMessageRowIsTimeStampBlankAndText) {
    std::time_t before = std::time(nullptr);
    PrintMessage("Starting process %s.", "alpha");
    std::string row = fake::Row(23);
    EXPECT_TRUE(test::IsTimeStamp(row.substr(0, 19))) << row;
    EXPECT_EQ(' ', row[19]);
    EXPECT_EQ("Starting process alpha.", test::TrimRight(row.substr(20)));

    // The stamp is local time, two-digit year.
    char expected[32];
    std::strftime(expected, sizeof expected, "[%d/%m/%y %H:", std::localtime(&before));
    std::time_t after = std::time(nullptr);
    char alternative[32];
    std::strftime(alternative, sizeof alternative, "[%d/%m/%y %H:", std::localtime(&after));
    std::string head = row.substr(0, 13);
    EXPECT_TRUE(head == expected || head == alternative) << head;
}

TEST_F(ConsoleTest, SixtyCharactersFillOneRowToTheLastColumn) {
    std::string text(59, 'x');
    text += 'E';
    WriteLogLine(text);
    EXPECT_EQ(text, Cells(23, 20, 79));
    EXPECT_TRUE(test::TrimRight(fake::Row(22)).empty());
}

TEST_F(ConsoleTest, SixtyOneCharactersWrapTheLastOneOntoAContinuationRow) {
    std::string text(60, 'y');
    text += 'Z';
    WriteLogLine(text);
    EXPECT_TRUE(test::IsTimeStamp(fake::Row(22).substr(0, 19)));
    EXPECT_EQ(std::string(60, 'y'), Cells(22, 20, 79));
    EXPECT_EQ(std::string(20, ' '), Cells(23, 0, 19)) << "continuation rows carry no stamp";
    EXPECT_EQ('Z', fake::Row(23)[20]);
    EXPECT_EQ(std::string(59, ' '), Cells(23, 21, 79));
}

TEST_F(ConsoleTest, AnEmptyMessageIsAStampAlone) {
    WriteLogLine("");
    EXPECT_TRUE(test::IsTimeStamp(fake::Row(23).substr(0, 19)));
    EXPECT_EQ(std::string(61, ' '), fake::Row(23).substr(19));
}

TEST_F(ConsoleTest, ALineFeedTakesOneCellAndStartsNoRow) {
    WriteLogLine("one\ntwo\r\tthree");
    EXPECT_EQ(std::string("one\ntwo\r\tthree"), Cells(23, 20, 33));
    EXPECT_TRUE(test::TrimRight(fake::Row(22)).empty());
}

TEST_F(ConsoleTest, MessagesScrollUpAndTheOldestLeavesAtTheTop) {
    for (int i = 0; i < 24; ++i)
        PrintMessage("message %d", i);
    EXPECT_EQ("message 0", test::TrimRight(fake::Row(0).substr(20)));
    EXPECT_EQ("message 23", test::TrimRight(fake::Row(23).substr(20)));
    PrintMessage("message 24");
    EXPECT_EQ("message 1", test::TrimRight(fake::Row(0).substr(20)));
    EXPECT_EQ("message 24", test::TrimRight(fake::Row(23).substr(20)));
    auto messages = test::LogMessages();
    EXPECT_EQ(24u, messages.size());
}

TEST_F(ConsoleTest, MessagesNeverTouchTheInputRowOrTheCursor) {
    fake::Get().screen.Write("typed", 5, port::Coord{0, 24}, nullptr);
    port::SetCursorPosition(console.outputHandle, port::Coord{5, 24});
    for (int i = 0; i < 40; ++i)
        WriteLogLine(std::string(200, 'm'));
    EXPECT_EQ("typed", test::TrimRight(fake::Row(24)));
    EXPECT_EQ(5, fake::Get().cursor.X);
    EXPECT_EQ(24, fake::Get().cursor.Y);
}

TEST_F(ConsoleTest, ClsBlanksTheLogAreaOnlyAndTheNextMessageLandsOnTheNewestRow) {
    fake::Get().screen.FillAttributes(0x4E, 80 * 25, port::Coord{0, 0}, nullptr);
    for (int i = 0; i < 30; ++i)
        PrintMessage("line %d", i);
    fake::Get().screen.Write("stop 1", 6, port::Coord{0, 24}, nullptr);
    port::SetCursorPosition(console.outputHandle, port::Coord{6, 24});

    ClsCommand(nullptr);
    for (int y = 0; y < 24; ++y) {
        EXPECT_EQ(std::string(80, ' '), fake::Row(y)) << "row " << y;
        for (int x = 0; x < 80; ++x)
            ASSERT_EQ(7, fake::Get().screen.At(x, y).attributes);
    }
    EXPECT_EQ("stop 1", test::TrimRight(fake::Row(24)));
    EXPECT_EQ(0x4E, fake::Get().screen.At(0, 24).attributes);
    EXPECT_EQ(6, fake::Get().cursor.X);

    PrintMessage("after");
    EXPECT_EQ("after", test::LastMessage());
    EXPECT_TRUE(test::TrimRight(fake::Row(22)).empty());
}

TEST_F(ConsoleTest, LongMessagesAreCutTo255Characters) {
    std::string name(300, 'n');
    PrintMessage("%s", name.c_str());
    auto messages = test::LogMessages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(std::string(255, 'n'), messages[0]);
    // 255 characters take five rows of 60; the last holds 15.
    EXPECT_TRUE(test::IsTimeStamp(fake::Row(19).substr(0, 19)));
    EXPECT_EQ(std::string(15, 'n'), test::TrimRight(fake::Row(23).substr(20)));
}

TEST_F(ConsoleTest, WriteLogLineKeepsLongTextWhole) {
    WriteLogLine(std::string(300, 'w'));
    EXPECT_EQ(std::string(300, 'w'), test::LastMessage());
}

TEST_F(ConsoleTest, AFailingScrollIsReportedOnStandardOutputAndDropsTheMessage) {
    PrintMessage("before");
    fake::Get().scrollFails = true;
    testing::internal::CaptureStdout();
    PrintMessage("lost");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("ScrollConsoleScreenBuffer failed 87\n", out);
    EXPECT_EQ("before", test::LastMessage());
}

TEST_F(ConsoleTest, AScrollFailingBetweenRowsKeepsWhatWasWritten) {
    fake::Get().scrollsBeforeFailure = 1;
    testing::internal::CaptureStdout();
    WriteLogLine(std::string(60, 'a') + std::string(10, 'b'));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("ScrollConsoleScreenBuffer failed 87\n", out);
    EXPECT_EQ(std::string(60, 'a'), test::LastMessage());
    EXPECT_TRUE(test::IsTimeStamp(fake::Row(23).substr(0, 19)));
}

TEST_F(ConsoleTest, ANarrowScreenStillWrapsByWidth) {
    test::Reset(21, 6);
    WriteLogLine("abc");
    EXPECT_EQ("a", fake::Row(2).substr(20, 1));
    EXPECT_EQ("b", fake::Row(3).substr(20, 1));
    EXPECT_EQ("c", fake::Row(4).substr(20, 1));
    EXPECT_TRUE(test::IsTimeStamp(fake::Row(2).substr(0, 19)));
}

} // namespace
