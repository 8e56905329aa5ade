// Which processes are an application's: the copies that attach finds by
// executable, by command line and by the record of what was started, and
// the containers that hold an application's processes.
#include "control/control_server.h"
#include "supervisor/containment.h"
#include "supervisor/start_record.h"
#include "supervisor/supervision.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Ids = std::vector<std::uint32_t>;
using Lines = std::vector<std::string>;

const std::string kPython = "C:\\Python\\python.exe";

class IdentityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager();
        fake::AddFile(kPython, kPython);
        // A script of the same user, then the two servers.
        Interpreter(50, {"script.py"});
        Interpreter(51, {"-m", "http.server", "18091"});
        Interpreter(52, {"-m", "http.server", "18092"});
    }
    void TearDown() override { EXPECT_EQ(0, fake::BadCloses()); }

    static fake::Process& Interpreter(std::uint32_t pid, const std::vector<std::string>& args) {
        fake::Process& p = fake::AddProcess(pid, 7, kPython);
        p.arguments = args;
        return p;
    }
    static Ids Attached(const std::vector<AppSettings>& apps) {
        AttachBatch batch;
        Ids pids;
        for (const AppSettings& app : apps)
            pids.push_back(fake::PidOf(test::Add(app, &batch).process.Get()));
        return pids;
    }
    static AppSettings Server(const std::string& name, const std::string& parameters,
                              bool byCommandLine) {
        AppSettings app = test::App(name, kPython, parameters);
        app.attachByCommandLine = byCommandLine;
        return app;
    }
};

TEST_F(IdentityTest, ByDefaultEveryProcessOfTheExecutableIsACopy) {
    EXPECT_EQ((Ids{50, 50}), Attached({Server("api", "-m http.server 18091", false),
                                       Server("admin", "-m http.server 18092", false)}));
}

TEST_F(IdentityTest, ByCommandLineEachEntryTakesItsOwnProcessOnce) {
    Interpreter(53, {"-m", "x"}).argumentsReadable = false;
    const Ids pids = Attached(
        {Server("api", "-m http.server 18091", true), Server("admin", "-m http.server 18092", true),
         Server("twin", "-m http.server 18091", true), Server("hidden", "-m x", true)});
    EXPECT_EQ(51u, pids[0]);
    EXPECT_EQ(52u, pids[1]);
    ASSERT_EQ(2u, fake::Get().launches.size()) << "twin and hidden start their own";
    EXPECT_EQ((Ids{pids[2], pids[3]}),
              (Ids{fake::Get().launches[0].pid, fake::Get().launches[1].pid}));
    EXPECT_TRUE(fake::Get().asked.empty() && fake::Get().killed.empty());
}

// [User]: only a process of that user is a copy, the recorded one too; the
// start runs as the user, and an unknown one fails it with the user named.
TEST_F(IdentityTest, WithAUserOnlyItsProcessesAreCopiesAndTheStartNamesIt) {
    fake::FindProcess(52)->userId = 65534;
    fake::Get().hasStartRecord = true;
    fake::Get().startRecord = "51\t5000051\t-\t0\tapi\n";
    LoadStartRecord(supervision.record);
    AppSettings api = Server("api", "-m http.server 18091", false);
    AppSettings ghost = Server("ghost", "-m http.server 18092", false);
    api.user = "nobody";
    ghost.user = "no-such-user";
    EXPECT_EQ(52u, Attached({api})[0]);

    fake::FindProcess(52)->alive = false;
    const Ids pids = Attached({api, ghost});
    ASSERT_EQ(2u, fake::Get().launches.size());
    EXPECT_EQ("nobody", fake::Get().launches[0].user);
    EXPECT_EQ(pids[0], fake::Get().launches[0].pid);
    EXPECT_EQ(0u, pids[1]);
    EXPECT_EQ("Could not start ghost as user no-such-user. Error: 1332.", test::LastMessage());
    EXPECT_TRUE(fake::Get().asked.empty() && fake::Get().killed.empty());
}

TEST_F(IdentityTest, TheRecordedProcessIsTriedFirstAndTheRecordFollowsEveryStart) {
    fake::FindProcess(52)->startTime = 777;
    fake::Get().hasStartRecord = true;
    fake::Get().startRecord = "52\t777\t-\t0\tadmin\n51\t1\t-\t0\tapi\nnot a row\n";
    LoadStartRecord(supervision.record);
    // admin's recorded process runs with its start time; api's has another.
    EXPECT_EQ((Ids{50, 52}), Attached({Server("api", "-m http.server 18091", false),
                                       Server("admin", "-m http.server 18092", false)}));
    const std::vector<RecordedProcess> rows = ParseStartRecord(fake::Get().startRecord);
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("api", rows[0].name);
    EXPECT_EQ(50u, rows[0].processId);
    EXPECT_EQ(5000050u, rows[0].startTime);
    EXPECT_EQ("admin", rows[1].name);
    EXPECT_EQ(777u, rows[1].startTime);

    // Rewritten at each start, the old row replaced.
    ExecuteLine("restart api");
    const std::uint32_t again = fake::Get().launches.back().pid;
    test::RunPasses(2); // written when the loop comes round
    const std::vector<RecordedProcess> after = ParseStartRecord(fake::Get().startRecord);
    ASSERT_EQ(2u, after.size());
    EXPECT_EQ(again, after[0].processId);
}

TEST(StartRecord, RowsSurviveTheTripAndBrokenLinesAreLeftOut) {
    const std::vector<RecordedProcess> rows = {{12, 34, "/sys/fs/cgroup/x/app-web", 0, "web\tapp"},
                                               {4294967295u, 0, "", 1, "w"}};
    const std::vector<RecordedProcess> back = ParseStartRecord(FormatStartRecord(rows));
    ASSERT_EQ(2u, back.size());
    EXPECT_EQ("/sys/fs/cgroup/x/app-web", back[0].container);
    EXPECT_EQ("web\tapp", back[0].name);
    EXPECT_EQ(4294967295u, back[1].processId);
    EXPECT_EQ("", back[1].container);
    EXPECT_EQ(1, back[1].place);
    EXPECT_TRUE(ParseStartRecord("0\t1\t-\t0\tzero\n4294967296\t1\t-\t0\tbig\n"
                                 "x\t1\t-\t0\tn\n5\t-1\t-\t0\tn\n5\t1\t-\tx\tn\n"
                                 "5\t1\t-\t0\t\n5\t1\t-\t0\n")
                    .empty());
}

class ContainedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager();
        fake::AddFile("C:\\svc.exe", "C:\\svc.exe");
    }
    void TearDown() override { EXPECT_EQ(0, fake::BadCloses()); }

    static AppEntry& Add(std::uint32_t stopSeconds = 0) {
        AppSettings app = test::App("svc", "C:\\svc.exe");
        app.containProcesses = true;
        app.stopTimeoutSeconds = stopSeconds;
        return test::Add(app);
    }
    // The helper it left: in its container, its parent gone, in a session
    // of its own, so that no walk of the tree reaches it.
    static fake::Process& Helper(std::uint32_t pid) {
        fake::Process& helper = fake::AddProcess(pid, 7, "C:\\helper.exe");
        helper.sessionId = helper.groupId = pid;
        helper.container = "C:\\jobs\\svc";
        return helper;
    }
    static Lines Last(std::size_t count) {
        const Lines all = test::LogMessages();
        return Lines(all.end() - static_cast<long>(count), all.end());
    }
};

TEST_F(ContainedTest, AStopEndsTheContainerWithoutReadingTheProcessListAndRemovesIt) {
    AppEntry& svc = Add();
    ASSERT_EQ("C:\\jobs\\svc", fake::Get().launches[0].container);
    EXPECT_EQ("job", CollectStatus()[0].containment);
    Helper(2000);
    fake::Get().listsRead = 0; // the start's reading, to find a running copy
    ExecuteLine("stop 0");
    EXPECT_EQ((Lines{"C:\\jobs\\svc"}), fake::Get().endedContainers);
    EXPECT_FALSE(fake::FindProcess(2000)->alive);
    EXPECT_EQ(0, fake::Get().listsRead);
    EXPECT_FALSE(svc.process);
    EXPECT_TRUE(fake::Get().containers.empty()) << "the empty container stays";
}

TEST_F(ContainedTest, APoliteStopAsksTheContainerAndEndsWhenItIsEmpty) {
    Add(5);
    fake::Process& helper = Helper(2000);
    helper.endsWhenAsked = false;
    fake::Get().listsRead = 0; // the start's reading, to find a running copy
    ExecuteLine("stop 0");
    EXPECT_EQ((Lines{"C:\\jobs\\svc"}), fake::Get().askedContainers);
    EXPECT_EQ((Ids{1000, 2000}), fake::Get().asked);
    test::RunLoop([](int wait) {
        if (wait == 2)
            fake::EndContainedProcess(2000);
        return wait < 3;
    });
    EXPECT_EQ("svc stopped.", test::LastMessage());
    EXPECT_TRUE(fake::Get().killed.empty());
    EXPECT_EQ(0, fake::Get().listsRead);
    // The program's end, then the notice: no look in between.
    const std::uint32_t rest = 5000 - kEventLoopPauseMs;
    EXPECT_EQ((std::vector<std::uint32_t>{5000, rest, port::kWaitForever}), fake::Get().waitLimits);
}

TEST_F(ContainedTest, AStopSignalForTheMainProcessAsksItAloneAndTheContainerEndsTheRest) {
    AppEntry& svc = Add(5);
    svc.settings.stopSignal = 3;
    svc.settings.stopMainOnly = true;
    Helper(2000).endsWhenAsked = false;
    ExecuteLine("stop 0");
    EXPECT_EQ((Ids{1000}), fake::Get().asked);
    EXPECT_EQ((std::vector<int>{3}), fake::Get().askSignals);
    test::RunPasses(2);
    EXPECT_EQ((Lines{"C:\\jobs\\svc"}), fake::Get().endedContainers);
    EXPECT_EQ("svc stopped.", test::LastMessage());
}

TEST_F(ContainedTest, WhatItHoldsWhenTheProgramEndsAreItsLeftovers) {
    AppEntry& svc = Add();
    svc.settings.restart.endLeftovers = true;
    Helper(2000);
    fake::EndProcess(1000);
    OnAppExit(&waitTable, 1, &svc);
    EXPECT_EQ((Lines{"Ended 1 leftover processes of svc.", "Starting process svc."}), Last(2));
    EXPECT_FALSE(fake::FindProcess(2000)->alive);
}

TEST_F(ContainedTest, ANewManagerAttachesToWhatTheContainerHoldsWhateverItsExecutable) {
    fake::Get().containers = {"C:\\jobs\\svc"};
    Helper(3000).startTime = 20;
    Helper(3001).startTime = 10;
    EXPECT_EQ(3001u, fake::PidOf(Add().process.Get())) << "the first started";
    EXPECT_EQ("svc already running, attached!", test::LastMessage());
    EXPECT_EQ("job", CollectStatus()[0].containment);

    test::ResetManager();
    fake::Get().containers = {"C:\\jobs\\svc"};
    // One at a time: adding a process may move those added before.
    Helper(3000).startTime = 20;
    Helper(3001).startTime = 10;
    fake::Get().hasStartRecord = true;
    fake::Get().startRecord = "3000\t20\tC:\\jobs\\svc\t0\tsvc\n";
    LoadStartRecord(supervision.record);
    EXPECT_EQ(3000u, fake::PidOf(Add().process.Get())) << "the recorded one, where recorded";
}

// A record that names a container this manager does not make for the entry
// (another application's, another user's, any cgroup-like directory) is not
// believed: what that container holds is none of the entry's.
TEST_F(ContainedTest, AContainerTheRecordNamesOtherwiseIsIgnored) {
    fake::Get().containers = {"C:\\jobs\\foreign"};
    fake::AddProcess(3000, 0, "C:\\other.exe").container = "C:\\jobs\\foreign";
    fake::Get().hasStartRecord = true;
    fake::Get().startRecord = "3000\t5003000\tC:\\jobs\\foreign\t0\tsvc\n";
    LoadStartRecord(supervision.record);
    EXPECT_NE(3000u, fake::PidOf(Add().process.Get()));
    EXPECT_EQ("Ignored recorded container C:\\jobs\\foreign of svc.", test::LogMessages()[0]);
    EXPECT_TRUE(fake::FindProcess(3000)->alive);
    EXPECT_EQ((Lines{"C:\\jobs\\foreign", "C:\\jobs\\svc"}), fake::Get().containers);
}

TEST_F(ContainedTest, WithoutContainersTreesAreFollowedAfterOneMessage) {
    fake::Get().containersRefused = 13;
    Add();
    AppSettings other = test::App("other", "C:\\svc.exe");
    other.containProcesses = true;
    test::Add(other);
    EXPECT_EQ((Lines{"Could not hold processes in a job (Error: 13); following process trees "
                     "instead.",
                     "Starting process svc.", "other already running, attached!"}),
              test::LogMessages());
    EXPECT_EQ("", fake::Get().launches[0].container);
    EXPECT_EQ("tree", CollectStatus()[0].containment);
}

} // namespace
