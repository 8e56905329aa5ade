// Attaching to a running copy or launching, and relaunching on exit.
#include "supervisor/app_entry.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kTool = "C:\\Apps\\Tool\\tool.exe";
const std::string kToolShort = "C:\\Apps\\Tool\\tool.exe";

class AppEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager();
        fake::AddFile(kTool, kToolShort);
    }
    void TearDown() override {
        EXPECT_EQ(0, fake::BadCloses()) << "a handle was closed twice or never opened";
    }

    static AppEntry* Make(const std::string& name, const std::string& path,
                          const std::string& parameters = "", AttachBatch* batch = nullptr) {
        return &test::Add(test::App(name, path, parameters), batch);
    }

    static int RowOf(const AppEntry& entry) {
        for (int i = 0; i < waitTable.count; ++i)
            if (waitTable.handles[i] == entry.process.Get())
                return waitTable.contexts[i] == &entry && waitTable.callbacks[i] == OnAppExit ? i
                                                                                              : -2;
        return -1;
    }
};

TEST_F(AppEntryTest, NothingRunningLaunchesInTheExecutablesDirectory) {
    auto a = Make("alpha", kTool, "-x \"quoted arg\"");
    EXPECT_EQ((std::vector<std::string>{"Starting process alpha."}), test::LogMessages());
    ASSERT_EQ(1u, fake::Get().launches.size());
    const fake::Launch& launch = fake::Get().launches[0];
    EXPECT_EQ(kTool, launch.file);
    EXPECT_EQ("-x \"quoted arg\"", launch.parameters);
    EXPECT_EQ("C:\\Apps\\Tool", launch.directory);
    ASSERT_TRUE(IsUp(*a));
    EXPECT_EQ(launch.pid, fake::PidOf(a->process.Get()));
    EXPECT_EQ(1, RowOf(*a));
}

TEST_F(AppEntryTest, TheWorkingDirectoryIsCutAtTheLastSeparator) {
    fake::AddFile("C:\\tool.exe", "C:\\tool.exe");
    fake::AddFile("tool.exe", "C:\\Here\\tool.exe");
    fake::AddFile("\\top.exe", "C:\\top.exe");
    Make("root", "C:\\tool.exe");
    Make("bare", "tool.exe");
    Make("top", "\\top.exe");
    ASSERT_EQ(3u, fake::Get().launches.size());
    EXPECT_EQ("C:", fake::Get().launches[0].directory);
    EXPECT_EQ("<none>", fake::Get().launches[1].directory);
    EXPECT_EQ("", fake::Get().launches[2].directory);
}

TEST_F(AppEntryTest, ARunningCopyIsAttachedWhateverItsParameters) {
    fake::AddProcess(500, 4, "C:\\Windows\\other.exe");
    fake::AddFile("C:\\Windows\\other.exe", "C:\\Windows\\other.exe");
    fake::AddProcess(600, 4, kTool);
    auto a = Make("alpha", kTool, "-p");
    EXPECT_EQ((std::vector<std::string>{"alpha already running, attached!"}), test::LogMessages());
    EXPECT_TRUE(fake::Get().launches.empty());
    ASSERT_TRUE(IsUp(*a));
    EXPECT_EQ(600u, fake::PidOf(a->process.Get()));
    EXPECT_EQ(1, RowOf(*a));
    EXPECT_EQ(1, fake::OpenProcessHandles()) << "handles of non-matching processes are closed";
}

TEST_F(AppEntryTest, LongAndShortFormsAndLetterCaseMatch) {
    const std::string longPath = "C:\\Program Files\\Tool\\tool.exe";
    fake::AddFile(longPath, "C:\\PROGRA~1\\Tool\\tool.exe");
    fake::AddProcess(700, 4, "c:\\progra~1\\TOOL\\Tool.EXE");
    fake::AddFile("c:\\progra~1\\TOOL\\Tool.EXE", "c:\\PROGRA~1\\TOOL\\Tool.EXE");
    auto a = Make("long", longPath);
    EXPECT_EQ("long already running, attached!", test::LastMessage());
    EXPECT_EQ(700u, fake::PidOf(a->process.Get()));
}

TEST_F(AppEntryTest, TheFirstOpenableMatchWinsAndUnreadableProcessesAreSkipped) {
    fake::AddProcess(0, 0, kTool); // id 0 is never looked at
    fake::AddProcess(10, 4, kTool).openable = false;
    fake::AddProcess(11, 4, "");             // its image cannot be read
    fake::AddProcess(12, 4, "C:\\gone.exe"); // its image has no short form
    fake::AddProcess(13, 4, kTool);
    fake::AddProcess(14, 4, kTool);
    auto a = Make("alpha", kTool);
    EXPECT_EQ(13u, fake::PidOf(a->process.Get()));
    EXPECT_EQ(1, fake::OpenProcessHandles());
}

TEST_F(AppEntryTest, AProcessWhoseParentRunsTheSameExecutableIsTriedLast) {
    struct Process {
        std::uint32_t pid, parent;
        bool openable = true;
    };
    struct Case {
        const char* what;
        std::vector<Process> processes; // in list order, all running the tool
        std::uint32_t attached;
    };
    const std::vector<Case> cases{
        {"workers listed before their master", {{5, 30}, {6, 30}, {30, 1}}, 30},
        {"two masters: the first listed", {{5, 40}, {30, 1}, {40, 1}}, 30},
        {"a worker's worker is no top", {{5, 6}, {6, 30}, {30, 2}}, 30},
        {"the master cannot be opened", {{5, 30}, {30, 1, false}}, 5},
        {"a cycle of ids: list order", {{5, 6}, {6, 5}}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::Reset(100, 60);
        fake::AddFile(kTool, kToolShort);
        for (const Process& p : c.processes)
            fake::AddProcess(p.pid, p.parent, kTool).openable = p.openable;
        auto a = Make("alpha", kTool);
        EXPECT_EQ(c.attached, fake::PidOf(a->process.Get()));
        EXPECT_EQ(1, fake::OpenProcessHandles());
    }
}

TEST_F(AppEntryTest, ACopyListedAfterThousandsOfOtherProcessesIsFound) {
    fake::AddFile("C:\\other.exe", "C:\\other.exe");
    for (std::uint32_t pid = 2; pid < 10002; ++pid)
        fake::AddProcess(pid, 4, "C:\\other.exe");
    fake::AddProcess(20000, 4, kTool);
    auto a = Make("alpha", kTool);
    EXPECT_EQ("alpha already running, attached!", test::LastMessage());
    EXPECT_EQ(20000u, fake::PidOf(a->process.Get()));
}

TEST_F(AppEntryTest, ABatchReadsTheListOnceAndSeesWhatItStarted) {
    AttachBatch batch;
    auto a = Make("a", kTool, "", &batch);
    fake::AddProcess(900, 4, kTool); // too late for the batch's reading
    auto b = Make("b", kTool, "", &batch);
    ASSERT_EQ(1u, fake::Get().launches.size());
    EXPECT_EQ(fake::PidOf(a->process.Get()), fake::PidOf(b->process.Get()));
    EXPECT_EQ("b already running, attached!", test::LastMessage());

    auto c = Make("c", kTool);
    EXPECT_EQ(fake::PidOf(a->process.Get()), fake::PidOf(c->process.Get()))
        << "outside a batch the list is read afresh, in list order";
}

TEST_F(AppEntryTest, TwoEntriesAttachToOneProcessAndBothRestartWhenItEnds) {
    fake::AddProcess(800, 4, kTool);
    auto a = Make("a", kTool);
    auto b = Make("b", kTool);
    ASSERT_TRUE(IsUp(*a) && IsUp(*b));
    EXPECT_NE(a->process.Get(), b->process.Get());
    EXPECT_EQ(800u, fake::PidOf(a->process.Get()));
    EXPECT_EQ(800u, fake::PidOf(b->process.Get()));
    EXPECT_EQ(3, waitTable.count);

    fake::EndProcess(800);
    test::RunPasses(2);
    EXPECT_EQ(2u, fake::Get().launches.size());
    EXPECT_EQ(
        (std::vector<std::string>{"a already running, attached!", "b already running, attached!",
                                  "Starting process a.", "Starting process b."}),
        test::LogMessages());
    EXPECT_EQ(2, fake::OpenProcessHandles());
}

TEST_F(AppEntryTest, AMissingFileLeavesTheEntryStopped) {
    auto a = Make("ghost", "C:\\nowhere\\ghost.exe");
    EXPECT_EQ((std::vector<std::string>{"Could not get FileShortName!"}), test::LogMessages());
    EXPECT_FALSE(IsUp(*a));
    EXPECT_TRUE(fake::Get().launches.empty());
    EXPECT_EQ(1, waitTable.count);

    // A later start tries the launch and reports the system's error.
    fake::Get().launchError = 2;
    Dispatch(*a, AppEvent::StartAsked);
    EXPECT_EQ("Could not start ghost. Error: 2.", test::LastMessage());
    EXPECT_FALSE(IsUp(*a));
    EXPECT_EQ(1, waitTable.count);
}

TEST_F(AppEntryTest, AFailingProcessListLeavesTheEntryStopped) {
    fake::Get().listFails = true;
    auto a = Make("alpha", kTool);
    EXPECT_EQ((std::vector<std::string>{"Could not get process list!"}), test::LogMessages());
    EXPECT_FALSE(IsUp(*a));
    EXPECT_TRUE(fake::Get().launches.empty());
}

TEST_F(AppEntryTest, AFailedLaunchReportsTheErrorAndRegistersNothing) {
    fake::Get().launchError = 1155;
    auto a = Make("alpha", kTool);
    EXPECT_EQ((std::vector<std::string>{"Starting process alpha.",
                                        "Could not start alpha. Error: 1155."}),
              test::LogMessages());
    EXPECT_FALSE(IsUp(*a));
    EXPECT_EQ(1, waitTable.count);
}

TEST_F(AppEntryTest, ALaunchWithoutAProcessHandleCountsAsStopped) {
    fake::Get().launchWithoutHandle = true;
    auto a = Make("doc", kTool);
    auto messages = test::LogMessages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ("Starting process doc.", messages[0]);
    EXPECT_EQ("Started doc without a process to watch, it is not supervised!", messages[1]);
    EXPECT_FALSE(IsUp(*a));
    EXPECT_EQ(1, waitTable.count) << "a null handle is never registered";
}

TEST_F(AppEntryTest, APathLongerThan259CharactersIsRefused) {
    std::string longPath = "C:\\" + std::string(252, 'd') + "\\x.exe";
    ASSERT_EQ(261u, longPath.size());
    fake::AddFile(longPath, longPath);
    auto a = Make("deep", longPath);
    EXPECT_EQ((std::vector<std::string>{"Path of deep is too long, it is not started!"}),
              test::LogMessages());
    EXPECT_FALSE(IsUp(*a));
    Dispatch(*a, AppEvent::StartAsked);
    EXPECT_FALSE(IsUp(*a));
    EXPECT_TRUE(fake::Get().launches.empty());
    EXPECT_EQ("Path of deep is too long, it is not started!", test::LastMessage());

    std::string fits = "C:\\" + std::string(250, 'd') + "\\x.exe";
    ASSERT_EQ(259u, fits.size());
    fake::AddFile(fits, fits);
    auto b = Make("fits", fits);
    EXPECT_TRUE(IsUp(*b));
}

TEST_F(AppEntryTest, ARelaunchedRowMovesToTheEnd) {
    fake::AddFile("C:\\b.exe", "C:\\b.exe");
    fake::AddFile("C:\\c.exe", "C:\\c.exe");
    auto a = Make("a", kTool);
    auto b = Make("b", "C:\\b.exe");
    auto c = Make("c", "C:\\c.exe");
    port::Handle old = a->process.Get();
    std::uint32_t oldPid = fake::PidOf(old);
    EXPECT_EQ(1, RowOf(*a));

    fake::EndProcess(oldPid);
    test::RunPasses(1);
    EXPECT_EQ(1, RowOf(*b));
    EXPECT_EQ(2, RowOf(*c));
    EXPECT_EQ(3, RowOf(*a));
    EXPECT_NE(oldPid, fake::PidOf(a->process.Get()));
    EXPECT_EQ(4, waitTable.count);
    EXPECT_EQ(0u, fake::PidOf(old)) << "the old handle is closed";
    EXPECT_EQ("Starting process a.", test::LastMessage());
}

TEST_F(AppEntryTest, AFailedRelaunchLeavesTheEntryStopped) {
    auto a = Make("a", kTool);
    fake::EndProcess(fake::PidOf(a->process.Get()));
    fake::Get().launchError = 5;
    OnAppExit(&waitTable, 1, a);
    EXPECT_FALSE(IsUp(*a));
    EXPECT_EQ(1, waitTable.count);
    EXPECT_EQ(0, fake::OpenProcessHandles());
    EXPECT_EQ("Could not start a. Error: 5.", test::LastMessage());
}

TEST_F(AppEntryTest, AnApplicationThatEndsAtOnceIsStartedOnEveryPass) {
    fake::Get().launchedEndsAtOnce = true;
    Make("flash", kTool);
    test::RunPasses(20);
    EXPECT_EQ(21u, fake::Get().launches.size());
    auto messages = test::LogMessages();
    EXPECT_EQ(21u, messages.size());
    for (const auto& m : messages)
        EXPECT_EQ("Starting process flash.", m);
    EXPECT_EQ(1, fake::OpenProcessHandles()) << "each relaunch closes the old handle";
    EXPECT_EQ(20u, fake::Get().sleeps.size());
}

TEST_F(AppEntryTest, AFullWaitTableGivesUpTheHandle) {
    while (waitTable.count < kWaitTableSize)
        AddWaitHandle(9000 + waitTable.count, OnConsoleInput, nullptr);
    auto a = Make("late", kTool);
    EXPECT_FALSE(IsUp(*a));
    EXPECT_EQ(0, fake::OpenProcessHandles());
    EXPECT_EQ("Too many processes to watch, late is not supervised!", test::LastMessage());
}

} // namespace
