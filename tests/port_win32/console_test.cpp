// Without a console, every console function of the Windows back end fails
// and changes nothing. The process leaves any console it was given first, so
// the test means the same whether it runs in a terminal or under CTest.
#include "port/console.h"
#include "port/system.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

namespace {

// A value no call may write.
constexpr std::uint32_t kUntouched = 0xA5A5A5A5u;

class NoConsole : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ::FreeConsole(); }
};

TEST_F(NoConsole, IsReportedAndHandlesAreNull) {
    EXPECT_FALSE(port::ConsoleAvailable());
    EXPECT_EQ(port::StdOutput(), port::kNullHandle);
    EXPECT_EQ(port::StdInput(), port::kNullHandle);
}

TEST_F(NoConsole, ScreenCallsFailWithoutWriting) {
    // Any handle will do: the calls must refuse before they use it.
    const port::Handle output = reinterpret_cast<port::Handle>(::GetStdHandle(STD_ERROR_HANDLE));
    port::Coord size{123, 45};
    EXPECT_FALSE(port::GetScreenSize(output, &size));
    EXPECT_EQ(size.X, 123);
    EXPECT_EQ(size.Y, 45);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));

    std::uint32_t written = kUntouched;
    EXPECT_FALSE(port::WriteCells(output, "text", 4, port::Coord{0, 0}, &written));
    EXPECT_EQ(written, kUntouched);
    EXPECT_FALSE(port::FillCellCharacters(output, ' ', 10, port::Coord{0, 0}, &written));
    EXPECT_EQ(written, kUntouched);
    EXPECT_FALSE(port::FillCellAttributes(output, 7, 10, port::Coord{0, 0}, &written));
    EXPECT_EQ(written, kUntouched);

    const port::Rect rect{0, 0, 79, 23};
    EXPECT_FALSE(
        port::ScrollScreen(output, rect, &rect, port::Coord{0, -1}, port::CharInfo{' ', 7}));
    EXPECT_FALSE(port::SetCursorPosition(output, port::Coord{0, 24}));
    port::CursorInfo cursor{55, false};
    EXPECT_FALSE(port::GetCursorInfo(output, &cursor));
    EXPECT_EQ(cursor.size, 55u);
    EXPECT_FALSE(port::SetCursorInfo(output, port::CursorInfo{19, true}));
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

TEST_F(NoConsole, InputCallsFailWithoutReading) {
    const port::Handle input = reinterpret_cast<port::Handle>(::GetStdHandle(STD_INPUT_HANDLE));
    EXPECT_FALSE(port::SetInputMode(input, 28));
    std::uint32_t count = kUntouched;
    EXPECT_FALSE(port::CountInputEvents(input, &count));
    EXPECT_EQ(count, kUntouched);
    port::InputRecord record{};
    record.eventType = 77;
    std::uint32_t read = kUntouched;
    EXPECT_FALSE(port::ReadInputRecord(input, &record, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(record.eventType, 77);
}

} // namespace
