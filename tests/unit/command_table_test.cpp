#include "console/command_table.h"

#include "app/startup.h"
#include "console/arg_reader.h"
#include "console/console.h"
#include "console/line_editor.h"
#include "port/keys.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ran;

void Probe(ArgReader* args) {
    const char* next = args->NextToken();
    ran.push_back(std::string("probe:") + (next ? next : "<end>"));
}
void Second(ArgReader*) {
    ran.push_back("second");
}

class CommandTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::Reset(80, 40);
        ran.clear();
    }
    static void SetLine(const std::string& text) {
        for (char c : text)
            HandleKey(port::KeyEvent{true, 1, port::kVkOemPeriod, c, 0});
    }
    static std::string Line() { return console.historyText[console.currentSlot]; }
};

const std::vector<std::string> kHelpListing = {
    "Help Command list:",
    "",
    "list = Displays application list",
    "start = Starts application",
    "stop = Stops application",
    "restart = Restarts application",
    "startall = Starts all applications",
    "stopall = Stops all applications",
    "restartall = Restarts all applications",
    "cls = Clears console window",
    "quit = Quits application",
};

TEST_F(CommandTableTest, HelpListsTheNineCommandsForAnyLineBeginningWithHelp) {
    RegisterCommands();
    for (const char* line : {"help", "Help", "HELP stop", "helpme"}) {
        ClsCommand(nullptr);
        ExecuteLine(line);
        EXPECT_EQ(kHelpListing, test::LogMessages()) << line;
    }
}

TEST_F(CommandTableTest, HelpMustBeginTheLine) {
    RegisterCommands();
    ExecuteLine(" help");
    ExecuteLine("hel");
    EXPECT_EQ((std::vector<std::string>{"No such command", "No such command"}),
              test::LogMessages());
}

TEST_F(CommandTableTest, TheFirstWordMustEqualANameIgnoringAsciiCase) {
    AddCommand("probe", "d", Probe);
    AddCommand("PROBE", "d", Second);
    ExecuteLine("PrObE 7 8");
    ExecuteLine("pro");
    ExecuteLine("probes");
    ExecuteLine("  probe");
    ExecuteLine("probe\xE9"
                "5");
    EXPECT_EQ((std::vector<std::string>{"probe:7", "probe:<end>", "probe:5"}), ran);
    EXPECT_EQ((std::vector<std::string>{"No such command", "No such command"}),
              test::LogMessages());
}

TEST_F(CommandTableTest, ALineOfSeparatorsAloneIsIgnored) {
    AddCommand("probe", "d", Probe);
    ExecuteLine("   ");
    ExecuteLine("\t\xA0");
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(test::LogMessages().empty());
}

TEST_F(CommandTableTest, TheTableRefusesRowsBeyondItsCapacity) {
    for (int i = 0; i < kCommandRows; ++i) {
        // Formatted in place: GCC 12 at -O3 takes "c" + std::to_string(i)
        // for an overlapping copy (-Wrestrict).
        char name[16];
        std::snprintf(name, sizeof name, "c%d", i);
        ASSERT_TRUE(AddCommand(name, "", Probe));
    }
    EXPECT_FALSE(AddCommand("extra", "", Second));
    EXPECT_EQ(kCommandRows, console.commandCount);
    ExecuteLine("extra");
    EXPECT_EQ("No such command", test::LastMessage());
}

TEST_F(CommandTableTest, TabOnAnEmptyLineListsEveryNameOverTwoRows) {
    RegisterCommands();
    HandleKey(port::KeyEvent{true, 1, port::kVkTab, '\t', 0});
    const std::string expected = "Multiple matches found: help list start stop restart startall "
                                 "stopall restartall cls quit";
    EXPECT_EQ(expected, test::LastMessage());
    EXPECT_EQ(expected.substr(0, 60), fake::Row(37).substr(20));
    EXPECT_EQ(expected.substr(60), test::TrimRight(fake::Row(38).substr(20)));
    EXPECT_EQ("", Line());
}

TEST_F(CommandTableTest, TabCompletesOneCandidateInTheTablesCase) {
    RegisterCommands();
    SetLine("q");
    CompleteCommand();
    EXPECT_EQ("quit", Line());
    EXPECT_EQ(4, console.historyLength[0]);
    EXPECT_EQ(4, console.historyCursor[0]);
    EXPECT_EQ("quit", test::TrimRight(fake::Row(39)));
    EXPECT_EQ(4, fake::Get().cursor.X);
    EXPECT_TRUE(test::LogMessages().empty());

    HandleKey(port::KeyEvent{true, 1, port::kVkEscape, 0, 0});
    SetLine("LI");
    CompleteCommand();
    EXPECT_EQ("list", Line());
    HandleKey(port::KeyEvent{true, 1, port::kVkEscape, 0, 0});
    SetLine("HE");
    CompleteCommand();
    EXPECT_EQ("help", Line());
}

TEST_F(CommandTableTest, TabListsSeveralCandidatesInTableOrder) {
    RegisterCommands();
    SetLine("res");
    CompleteCommand();
    EXPECT_EQ("Multiple matches found: restart restartall", test::LastMessage());
    EXPECT_EQ("res", Line());
    HandleKey(port::KeyEvent{true, 1, port::kVkEscape, 0, 0});
    SetLine("STOP");
    CompleteCommand();
    EXPECT_EQ("Multiple matches found: stop stopall", test::LastMessage());
    EXPECT_EQ("STOP", Line());
}

TEST_F(CommandTableTest, TabWithoutCandidatesSaysSo) {
    RegisterCommands();
    for (const char* typed : {"x", "stop 1", "quitx"}) {
        HandleKey(port::KeyEvent{true, 1, port::kVkEscape, 0, 0});
        SetLine(typed);
        CompleteCommand();
        EXPECT_EQ("Could not find a matching console command", test::LastMessage()) << typed;
        EXPECT_EQ(typed, Line());
    }
}

} // namespace
