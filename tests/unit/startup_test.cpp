#include "app/startup.h"

#include "config/ini_file.h"
#include "console/console.h"
#include "console/line_editor.h"
#include "fake_control.h"
#include "loop/event_loop.h"
#include "loop/wait_table.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::Reset(100, 60);
        // Every pass of the event loop ends it: start-up is what is tested here.
        fake::Get().onWait = [](int) { RunningFlag = false; };
    }
    void Config(const std::string& text) { scratch.Config(text); }
    static void Files(const std::vector<std::string>& paths) {
        for (const auto& p : paths)
            fake::AddFile(p, p);
    }

    test::ScratchDirectory scratch{"zelk-startup-"};
};

TEST_F(StartupTest, AMissingConfigurationIsReportedAndEndsTheProgram) {
    EXPECT_EQ(0, ManagerMain());
    std::string row = fake::Row(58);
    EXPECT_TRUE(test::IsTimeStamp(row.substr(0, 19))) << row;
    EXPECT_EQ(" Could not open zelkappmgr.ini!", test::TrimRight(row.substr(19)));
    EXPECT_EQ("", fake::Get().windowTitle);
    EXPECT_FALSE(fake::Get().closeItemRemoved);
    EXPECT_EQ(0, fake::Get().waits);
    EXPECT_EQ(0, waitTable.count);
}

TEST_F(StartupTest, ADirectoryNamedLikeTheConfigurationIsNotOne) {
    fs::create_directories(scratch.dir / "zelkappmgr.ini");
    EXPECT_EQ(0, ManagerMain());
    EXPECT_EQ("Could not open zelkappmgr.ini!", test::LastMessage());
}

TEST_F(StartupTest, ASecondCopyLeavesSilently) {
    fake::Get().guardTaken = true;
    EXPECT_EQ(0, ManagerMain());
    EXPECT_TRUE(test::LogMessages().empty()) << "not even the missing configuration";
    EXPECT_EQ("", fake::Get().windowTitle);
    EXPECT_EQ(0, fake::Get().waits);
}

TEST_F(StartupTest, ARefusedGuardSaysWhyOnStandardErrorAfterTheConsoleIsGivenBack) {
    fake::Get().guardRefusal = "/tmp/zelkappmgr-1000 belongs to another user (uid 0)";
    Config("[Applications]\nA=C:\\a.exe\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(1, ManagerMain());
    EXPECT_EQ("zelkappmgr: /tmp/zelkappmgr-1000 belongs to another user (uid 0); not started.\n",
              ::testing::internal::GetCapturedStderr());
    EXPECT_TRUE(fake::Get().consoleRestored);
    EXPECT_TRUE(test::LogMessages().empty());
    EXPECT_TRUE(fake::Get().launches.empty());
    EXPECT_EQ("", fake::Get().windowTitle);
}

TEST_F(StartupTest, WithoutAConsoleNothingIsTouched) {
    fake::Get().consoleAvailable = false;
    const int outputCallsBefore = fake::Get().outputCalls;
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, ManagerMain()); // nothing is supervised: a failure
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("console")) << err;
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n'));
    EXPECT_FALSE(fake::Get().guardTaken);
    EXPECT_EQ(outputCallsBefore, fake::Get().outputCalls);
}

TEST_F(StartupTest, AScreenTooSmallForTheLayoutIsRefused) {
    for (auto size : {std::pair{20, 25}, std::pair{80, 1}}) {
        test::Reset(size.first, size.second);
        testing::internal::CaptureStderr();
        EXPECT_EQ(1, ManagerMain());
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, err.find("21 columns and 2 rows")) << err;
        EXPECT_FALSE(fake::Get().guardTaken);
    }
    test::Reset(21, 2);
    fake::Get().onWait = [](int) { RunningFlag = false; };
    Config("[General]\n");
    EXPECT_EQ(0, ManagerMain());
    EXPECT_TRUE(fake::Get().guardTaken);
}

TEST_F(StartupTest, TheCloseButtonSettingDecidesTheCloseItemOnly) {
    const struct {
        const char* line;
        bool removed;
    } cases[] = {{"", true},
                 {"DisableCloseButton=1", true},
                 {"DisableCloseButton=yes", true},
                 {"DisableCloseButton=0", false},
                 {"DisableCloseButton=no", false},
                 {"DisableCloseButton=Yes", false},
                 {"DisableCloseButton=true", false}};
    for (const auto& c : cases) {
        test::Reset(100, 60);
        fake::Get().onWait = [](int) { RunningFlag = false; };
        Config(std::string("[General]\n") + c.line + "\n");
        EXPECT_EQ(0, ManagerMain());
        EXPECT_EQ(c.removed, fake::Get().closeItemRemoved) << c.line;
        EXPECT_EQ("Zelk Application Manager", fake::Get().windowTitle);
    }
}

TEST_F(StartupTest, EveryApplicationsSectionIsWalkedInFileOrder) {
    Files({"C:\\a.exe", "C:\\b.exe", "C:\\c.exe", "C:\\d.exe", "C:\\e.exe"});
    Config("[applications]\nA=C:\\a.exe\nB=C:\\b.exe\n"
           "[ Applications ]\nX=C:\\d.exe\n"
           "[Parameters]\nA=-alpha\nC=-gamma\nA=-second\n"
           "[Applications] second section\nC=C:\\c.exe\nD=C:\\d.exe\nA=C:\\e.exe\n");
    int commandsDuringLaunches = -1;
    fake::Get().onLaunch = [&] { commandsDuringLaunches = console.commandCount; };
    EXPECT_EQ(0, ManagerMain());

    EXPECT_EQ(0, commandsDuringLaunches) << "commands come after the applications";
    EXPECT_EQ(9, console.commandCount);
    ASSERT_EQ(5, appTable.count);
    const char* names[] = {"A", "B", "C", "D", "A"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(names[i], appTable.entries[i]->settings.name);
    const auto& launches = fake::Get().launches;
    ASSERT_EQ(5u, launches.size());
    EXPECT_EQ("-alpha", launches[0].parameters);
    EXPECT_EQ("", launches[1].parameters) << "no parameters line: empty";
    EXPECT_EQ("-gamma", launches[2].parameters);
    EXPECT_EQ("", launches[3].parameters) << "empty even after an entry with parameters";
    EXPECT_EQ("-alpha", launches[4].parameters) << "a repeated key gets the first parameters";

    EXPECT_EQ(fake::InputHandle(), waitTable.handles[0]);
    EXPECT_EQ(OnConsoleInput, waitTable.callbacks[0]);
    EXPECT_EQ(nullptr, waitTable.contexts[0]);
    EXPECT_EQ(appTable.entries[0], waitTable.contexts[1]);
    // The control channel's row comes after the applications'.
    EXPECT_EQ(7, waitTable.count);
    EXPECT_EQ(fake::ControlEndpoint(), waitTable.handles[6]);
}

TEST_F(StartupTest, MalformedHeadersAreReportedAndTheirLinesStartNothing) {
    Files({"/srv/web"});
    Config("[Applications]\nweb=/srv/web\n[Parameters\nweb=--port 8080\n[General\n");
    EXPECT_EQ(0, ManagerMain());
    const Lines log = test::LogMessages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("Ignored malformed section header in line 3 of zelkappmgr.ini.", log[0]);
    EXPECT_EQ("Ignored malformed section header in line 5 of zelkappmgr.ini.", log[1]);
    ASSERT_EQ(1, appTable.count);
    ASSERT_EQ(1u, fake::Get().launches.size());
    EXPECT_EQ("/srv/web", fake::Get().launches[0].file);
    EXPECT_EQ("", fake::Get().launches[0].parameters);
}

TEST_F(StartupTest, EmptyKeysAndValuesStillMakeApplications) {
    Config("[Applications]\n=C:\\nameless.exe\nempty=\n");
    EXPECT_EQ(0, ManagerMain());
    ASSERT_EQ(2, appTable.count);
    EXPECT_EQ("", appTable.entries[0]->settings.name);
    EXPECT_EQ("", appTable.entries[1]->settings.path);
    EXPECT_FALSE(IsUp(*appTable.entries[1]));
    EXPECT_EQ((Lines{"Could not get FileShortName!", "Could not get FileShortName!"}),
              test::LogMessages());
}

TEST_F(StartupTest, ApplicationsBeyondTheFifteenthAreRefusedByName) {
    std::string config = "[Applications]\n";
    for (int i = 0; i < 17; ++i) {
        std::string path = "C:\\p" + std::to_string(i) + ".exe";
        fake::AddFile(path, path);
        // Piece by piece: GCC 12 at -O3 takes "p" + std::to_string(i) for an
        // overlapping copy (-Wrestrict).
        config += 'p';
        config += std::to_string(i);
        config += '=';
        config += path;
        config += '\n';
    }
    Config(config);
    EXPECT_EQ(0, ManagerMain());
    EXPECT_EQ(kMaxApplications, appTable.count);
    EXPECT_EQ(1 + kMaxApplications + 1, waitTable.count) << "console, applications, endpoint";
    auto messages = test::LogMessages();
    ASSERT_EQ(17u, messages.size());
    EXPECT_EQ("Too many applications, skipping p15.", messages[15]);
    EXPECT_EQ("Too many applications, skipping p16.", messages[16]);
    EXPECT_EQ(15u, fake::Get().launches.size());
}

TEST_F(StartupTest, WithoutApplicationsTheManagerServesCommands) {
    Config("[General]\nDisableCloseButton=0\n");
    fake::Get().onWait = nullptr;
    fake::PushText("list");
    fake::PushKey(13, '\r');
    fake::PushText("quit");
    fake::PushKey(13, '\r');
    EXPECT_EQ(0, ManagerMain());
    EXPECT_FALSE(RunningFlag);
    EXPECT_EQ((Lines{"", std::string(40, '='), std::string(40, '='), ""}), test::LogMessages());
    EXPECT_EQ(1, fake::Get().waits);
}

TEST_F(StartupTest, QuitLeavesTheApplicationsRunning) {
    Files({"C:\\a.exe"});
    Config("[Applications]\nA=C:\\a.exe\n");
    fake::Get().onWait = nullptr;
    fake::PushText("quit");
    fake::PushKey(13, '\r');
    EXPECT_EQ(0, ManagerMain());
    ASSERT_EQ(1, appTable.count);
    EXPECT_TRUE(IsUp(*appTable.entries[0]));
    EXPECT_TRUE(fake::Get().killed.empty());
    EXPECT_EQ(1, fake::OpenProcessHandles()) << "nothing is closed on the way out";
}

TEST_F(StartupTest, HeadlessLogsLinesTellsSystemdAndStopsAllOnARequestToEnd) {
    EXPECT_EQ(1, ManagerMain(true)) << "a service without its configuration failed";
    EXPECT_EQ(0u, fake::Get().standardOutput.find('['));
    EXPECT_EQ(" Could not open zelkappmgr.ini!\n", fake::Get().standardOutput.substr(19));

    test::Reset(100, 60);
    Files({"C:\\a.exe", "C:\\b.exe"});
    Config("[Applications]\nA=C:\\a.exe\nB=C:\\b.exe\n");
    fake::Get().onWait = [](int wait) {
        if (wait == 1) {
            EXPECT_EQ((Lines{"READY=1"}), fake::Get().notifications);
            fake::Get().shutdownRequested = true;
        }
    };
    const int outputCalls = fake::Get().outputCalls; // those of the test's own reset
    EXPECT_EQ(0, ManagerMain(true));
    EXPECT_EQ((Lines{"READY=1", "STOPPING=1"}), fake::Get().notifications);
    EXPECT_EQ(2u, fake::Get().killed.size());
    EXPECT_FALSE(appTable.entries[0]->process || appTable.entries[1]->process);
    const std::string& out = fake::Get().standardOutput;
    for (const char* text :
         {" Starting process A.\n", " Asked to end: stopping every application.\n",
          " Terminating process B.\n"})
        EXPECT_NE(std::string::npos, out.find(text)) << out;
    EXPECT_EQ(outputCalls, fake::Get().outputCalls) << "the screen is never touched";
}

TEST_F(StartupTest, HeadlessNeverSaysReadyOnceItSaidStopping) {
    // A is never ready before the request to end; its stop settles start-up.
    Files({"C:\\a.exe"});
    Config("[Applications]\nA=C:\\a.exe\n[Ready]\nA = delay 60\n");
    fake::Get().onWait = [](int wait) {
        if (wait == 1) {
            EXPECT_EQ(AppState::Starting, appTable.entries[0]->state);
            fake::Get().shutdownRequested = true;
        }
    };
    EXPECT_EQ(0, ManagerMain(true));
    EXPECT_EQ(AppState::Stopped, appTable.entries[0]->state);
    EXPECT_EQ((Lines{"STOPPING=1"}), fake::Get().notifications);
}

} // namespace
