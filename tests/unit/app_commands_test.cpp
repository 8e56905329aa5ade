#include "supervisor/app_commands.h"

#include "app/startup.h"
#include "console/command_table.h"
#include "console/line_editor.h"
#include "loop/event_loop.h"
#include "supervisor/app_entry.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using test::Typed;

class AppCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override { test::ResetManager(100, 80); }
    void TearDown() override { EXPECT_EQ(0, fake::BadCloses()); }

    // Adds applications as start-up does; a name starting with '-' has a
    // path that does not exist and stays stopped.
    static void Apps(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            std::string path = "C:\\apps\\" + name + ".exe";
            if (name[0] != '-')
                fake::AddFile(path, path);
            test::Add(test::App(name, path));
        }
    }
};

TEST_F(AppCommandsTest, ListShowsNumbersNamesAndStoppedEntries) {
    Apps({"alpha", "-ghost", "gamma"});
    ClsCommand(nullptr);
    EXPECT_EQ((Lines{"", std::string(40, '='), "   0: alpha", "   1: -ghost [STOPPED]",
                     "   2: gamma", std::string(40, '='), ""}),
              Typed("list"));
    // A running entry's row ends in one blank after the name.
    EXPECT_EQ("   0: alpha ", fake::Row(74).substr(20, 12));
    EXPECT_EQ(' ', fake::Row(74)[31]);
}

TEST_F(AppCommandsTest, ListOfAnEmptyTableIsTheFrameAlone) {
    EXPECT_EQ((Lines{"", std::string(40, '='), std::string(40, '='), ""}), Typed("LIST extra"));
}

TEST_F(AppCommandsTest, IndexesOutOfRangeMissingOrNegativeAndUnknownNamesDoNotExist) {
    Apps({"alpha"});
    for (const char* line : {"start", "stop", "restart", "start 1", "stop -1", "restart 99",
                             "start 99999999999", "stop live", "stop %x", "stop alph", "stop +0"})
        EXPECT_EQ((Lines{"Application does not exist."}), Typed(line)) << line;
}

TEST_F(AppCommandsTest, StartStopAndRestartFollowTheEntrysState) {
    Apps({"alpha", "beta"});
    EXPECT_EQ((Lines{"Application already started."}), Typed("start 0"));
    EXPECT_EQ((Lines{"Terminating process alpha."}), Typed("stop 0 and more words"));
    EXPECT_FALSE(IsUp(*appTable.entries[0]));
    EXPECT_EQ((Lines{"Application already stopped."}), Typed("stop 0"));
    EXPECT_EQ((Lines{"Application is not running, starting it.", "Starting process alpha."}),
              Typed("restart 0"));
    EXPECT_TRUE(IsUp(*appTable.entries[0]));
    EXPECT_EQ((Lines{"Terminating process beta.", "Starting process beta."}), Typed("restart 1x"));
    // A word is a display name, in any case; a number only when it begins
    // with a digit.
    EXPECT_EQ((Lines{"Terminating process alpha."}), Typed("stop ALPHA"));
    EXPECT_EQ((Lines{"Starting process alpha."}), Typed("start 0"));
    Apps({"-1", "9"}); // "-1" does not run
    EXPECT_EQ((Lines{"Application already stopped."}), Typed("stop -1"));
    EXPECT_EQ((Lines{"Application does not exist."}), Typed("stop 9")) << "9 is a number";
}

TEST_F(AppCommandsTest, StartNeverAttachesToARunningCopy) {
    Apps({"alpha"});
    Typed("stop 0");
    fake::AddProcess(4000, 1, "C:\\apps\\alpha.exe");
    Typed("start 0");
    EXPECT_NE(4000u, fake::PidOf(appTable.entries[0]->process.Get()));
    EXPECT_EQ(2u, fake::Get().launches.size());
}

TEST_F(AppCommandsTest, StartOfAMissingFileReportsTheLaunchError) {
    Apps({"-ghost"});
    fake::Get().launchError = 2;
    EXPECT_EQ((Lines{"Starting process -ghost.", "Could not start -ghost. Error: 2."}),
              Typed("start 0"));
}

TEST_F(AppCommandsTest, TheAllCommandsSkipWhatIsAlreadyInTheWantedState) {
    Apps({"a", "-b", "c"});
    fake::Get().launchError = 2;
    EXPECT_EQ((Lines{"Starting process -b.", "Could not start -b. Error: 2."}), Typed("startall"));
    fake::Get().launchError = 0;
    Typed("stop 2");
    EXPECT_EQ((Lines{"Starting process -b.", "Starting process c."}), Typed("startall"));
    EXPECT_TRUE(Typed("startall").empty());

    EXPECT_EQ(
        (Lines{"Terminating process a.", "Terminating process -b.", "Terminating process c."}),
        Typed("stopall"));
    EXPECT_TRUE(Typed("stopall").empty());
    EXPECT_EQ(1, waitTable.count);
    EXPECT_EQ(0, fake::OpenProcessHandles());
}

TEST_F(AppCommandsTest, RestartAllFinishesEachEntryBeforeTheNext) {
    Apps({"a", "-b", "c"});
    const std::uint32_t pidA = fake::PidOf(appTable.entries[0]->process.Get());
    fake::AddProcess(9100, pidA, "child of a").terminateFails = true;
    EXPECT_EQ((Lines{"Terminating process a.", "Failed to kill process with id: 9100!",
                     "Starting process a.", "Starting process -b.", "Terminating process c.",
                     "Starting process c."}),
              Typed("restartall"));
    ASSERT_EQ(4, waitTable.count);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(appTable.entries[i], waitTable.contexts[i + 1]);
}

TEST_F(AppCommandsTest, AnExactNameComesBeforeOneThatDiffersInCase) {
    Apps({"web", "Web"});
    Typed("stop Web");
    EXPECT_TRUE(IsUp(*appTable.entries[0]));
    EXPECT_FALSE(IsUp(*appTable.entries[1]));
    Typed("start Web");
    Typed("stop WEB"); // no exact match: the first ignoring case
    EXPECT_FALSE(IsUp(*appTable.entries[0]));
    EXPECT_TRUE(IsUp(*appTable.entries[1]));
}

TEST_F(AppCommandsTest, ClsAndQuitAreInTheTable) {
    Apps({"a"});
    Typed("list");
    ExecuteLine("cls");
    EXPECT_TRUE(test::LogMessages().empty());
    ExecuteLine("quit now");
    EXPECT_FALSE(RunningFlag);
    EXPECT_TRUE(IsUp(*appTable.entries[0])) << "quit stops nothing";
    EXPECT_TRUE(test::LogMessages().empty()) << "quit prints nothing";
}

} // namespace
