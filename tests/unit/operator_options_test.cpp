// The log file, exit reports and new attempts after failed starts.
#include "app/apply_settings.h"
#include "console/log_file.h"
#include "loop/timers.h"
#include "port/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kTool = "C:\\apps\\alpha.exe";

class OperatorOptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager();
        fake::AddFile(kTool, kTool);
    }
    void TearDown() override {
        console.logFile = LogFile{};
        EXPECT_EQ(0, fake::BadCloses());
    }

    static AppEntry& App() { return test::Add(test::App("alpha", kTool)); }
    // Ends the entry's process as given and runs its wait callback.
    static void EndsWith(AppEntry& entry, std::uint32_t value, bool bySignal = false,
                         bool readable = true) {
        fake::Process* p = fake::FindProcess(fake::PidOf(entry.process.Get()));
        ASSERT_NE(nullptr, p);
        p->alive = false;
        p->exitValue = value;
        p->endedBySignal = bySignal;
        p->statusReadable = readable;
        OnAppExit(&waitTable, 1, &entry);
    }
    // The messages that running `action` adds to the log.
    template <typename F> static Lines Added(F action) {
        std::size_t before = test::LogMessages().size();
        action();
        Lines all = test::LogMessages();
        return Lines(all.begin() + static_cast<long>(before), all.end());
    }
};

TEST_F(OperatorOptionsTest, TheFileGetsEachEntryAsOneLineWithControlBytesReplaced) {
    OpenLogFile(console.logFile, "ops.log");
    const std::string text = "esc\x1b del\x7f tab\t " + std::string(150, 'x') + " end";
    WriteLogLine(text);
    PrintMessage("second");

    const std::string& file = fake::Get().files["ops.log"];
    EXPECT_EQ(2, fake::Get().fileWrites);
    // The screen wraps the entry over two rows; the file keeps it on one line
    // with the stamp the screen shows.
    EXPECT_EQ(' ', fake::Row(57)[0]); // rows 55 to 57 on the screen
    const std::string stamp = fake::Row(55).substr(0, 19);
    ASSERT_TRUE(test::IsTimeStamp(stamp)) << fake::Row(55);
    const std::string first = stamp + " esc? del? tab? " + std::string(150, 'x') + " end\n";
    ASSERT_EQ(first, file.substr(0, first.size()));
    EXPECT_EQ(" second\n", file.substr(first.size() + 19));
    EXPECT_EQ(std::string::npos, file.find('\x1b'));
}

TEST_F(OperatorOptionsTest, AFileThatCannotBeOpenedIsReportedOnceAndLeftOut) {
    fake::Get().unopenable.push_back("logs");
    GeneralSettings general;
    general.logFile = "logs";
    ApplyLogFile(general);
    ApplyLogFile(general); // a reload tries it again, and says nothing new
    PrintMessage("after");
    EXPECT_EQ((Lines{"Could not open log file logs!", "after"}), test::LogMessages());
    EXPECT_EQ(0, fake::Get().fileWrites);
}

TEST_F(OperatorOptionsTest, AFailingWriteIsReportedOnceAndLaterEntriesAreStillTried) {
    OpenLogFile(console.logFile, "ops.log");
    fake::Get().fileWriteFails = true;
    PrintMessage("one");
    PrintMessage("two");
    EXPECT_EQ((Lines{"one", "Could not write to log file ops.log!", "two"}), test::LogMessages());
    EXPECT_EQ(3, fake::Get().fileWrites);
    fake::Get().fileWriteFails = false;
    PrintMessage("three");
    const std::string& file = fake::Get().files["ops.log"];
    EXPECT_EQ(" three\n", file.substr(19));
}

TEST_F(OperatorOptionsTest, AnExitIsReportedBeforeTheRelaunchAsCodeStatusOrSignal) {
    AppEntry& alpha = App();
    EndsWith(alpha, 3);
    EXPECT_EQ((Lines{"Starting process alpha.", "Starting process alpha."}), test::LogMessages());

    alpha.settings.restart.reportExits = true;
    EXPECT_EQ((Lines{"alpha exited with code 3.", "Starting process alpha."}),
              Added([&] { EndsWith(alpha, 3); }));
    EXPECT_EQ((Lines{"alpha exited with code 0xC0000005.", "Starting process alpha."}),
              Added([&] { EndsWith(alpha, 0xC0000005u); }));
    EXPECT_EQ((Lines{"alpha exited with code 2147483647.", "Starting process alpha."}),
              Added([&] { EndsWith(alpha, 0x7FFFFFFFu); }));
    EXPECT_EQ((Lines{"alpha was ended by signal 11 (SIGTEST).", "Starting process alpha."}),
              Added([&] { EndsWith(alpha, 11, true); }));
    EXPECT_EQ((Lines{"alpha ended.", "Starting process alpha."}),
              Added([&] { EndsWith(alpha, 0, false, false); }));
    EXPECT_EQ((Lines{"Terminating process alpha."}), Added([] { ExecuteLine("stop 0"); }));
}

TEST_F(OperatorOptionsTest, FailedStartsAreTriedAgainWithAWaitThatDoublesUpToTenTimes) {
    AppEntry& alpha = App();
    alpha.settings.restart.retryFailedStartsSeconds = 2;
    EXPECT_EQ(port::kWaitForever, TimerWaitLimitMs());
    fake::Get().launchError = 2;
    EXPECT_EQ((Lines{"Starting process alpha.", "Could not start alpha. Error: 2.",
                     "Will try to start alpha again in 2 s."}),
              Added([&] { EndsWith(alpha, 0); }));

    std::vector<std::uint32_t> waits;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::uint32_t limit = TimerWaitLimitMs();
        fake::Get().nowMs += limit - 1;
        RunDueTimers(); // not yet due
        EXPECT_EQ(1u, TimerWaitLimitMs());
        fake::Get().nowMs += 1;
        Lines added = Added([] { RunDueTimers(); });
        ASSERT_EQ(3u, added.size());
        EXPECT_EQ("Starting process alpha.", added[0]);
        waits.push_back(limit);
    }
    EXPECT_EQ((std::vector<std::uint32_t>{2000, 4000, 8000, 16000, 20000}), waits);
    EXPECT_EQ("Will try to start alpha again in 20 s.", test::LastMessage());

    // stop cancels the pending attempt; a stopped entry without one is as before.
    EXPECT_EQ((Lines{"Will not try to start alpha again."}), Added([] { ExecuteLine("stop 0"); }));
    EXPECT_EQ(port::kWaitForever, TimerWaitLimitMs());
    EXPECT_EQ((Lines{"Application already stopped."}), Added([] { ExecuteLine("stop 0"); }));

    // A failed "start" begins a new run of waits; a successful one ends it.
    ExecuteLine("start 0");
    EXPECT_EQ("Will try to start alpha again in 2 s.", test::LastMessage());
    fake::Get().launchError = 0;
    EXPECT_EQ((Lines{"Starting process alpha."}), Added([] { ExecuteLine("start 0"); }));
    RunDueTimers(); // the record of the start is written
    EXPECT_EQ(port::kWaitForever, TimerWaitLimitMs());

    ExecuteLine("stop 0");
    fake::Get().launchError = 2;
    ExecuteLine("start 0");
    EXPECT_EQ((Lines{"Will not try to start alpha again."}), Added([] { ExecuteLine("stopall"); }));
    EXPECT_EQ(port::kWaitForever, TimerWaitLimitMs());
}

TEST_F(OperatorOptionsTest, TheLoopWaitsForThePendingAttemptAndOtherwiseWithoutLimit) {
    AppEntry& alpha = App();
    alpha.settings.restart.retryFailedStartsSeconds = 3;
    fake::Get().launchError = 2;
    EndsWith(alpha, 0);
    fake::Get().launchError = 0;
    fake::PushText("x"); // console input waits too: it is served in the same pass
    test::RunPasses(4);
    // Pass 1 serves the key (the attempt is not due), pass 2 waits what is
    // left after the pauses, times out and starts the entry, pass 3 writes
    // the record of the start without waiting, pass 4 waits without a limit.
    const fake::State& s = fake::Get();
    ASSERT_EQ(4u, s.waitLimits.size());
    ASSERT_LE(2u, s.sleeps.size());
    EXPECT_EQ(3000u, s.waitLimits[0]);
    EXPECT_EQ(3000u - s.sleeps[0] - s.sleeps[1], s.waitLimits[1]);
    EXPECT_EQ(0u, s.waitLimits[2]);
    EXPECT_EQ(port::kWaitForever, s.waitLimits[3]);
    EXPECT_TRUE(IsUp(alpha));
    EXPECT_EQ(3u, fake::Get().launches.size());
    EXPECT_EQ("x", test::TrimRight(fake::Row(59)));
}

TEST_F(OperatorOptionsTest, TheRetryKeyIsAWholeNumberOfSecondsHeldToOneDay) {
    const std::string path = ::testing::TempDir() + "zelk-operator-options.ini";
    for (auto [value, expected] : std::vector<std::pair<std::string, std::uint32_t>>{
             {"5", 5}, {"0", 0}, {"-4", 0}, {"soon", 0}, {"999999999", kMaxRetrySeconds}}) {
        std::ofstream(path) << "[General]\nRetryFailedStarts = " << value
                            << "\nReportExits=yes\n[Applications]\na=a.exe\n";
        Settings settings;
        ASSERT_TRUE(ReadSettings(path, &settings));
        EXPECT_EQ(expected, settings.apps[0].restart.retryFailedStartsSeconds) << value;
        EXPECT_TRUE(settings.apps[0].restart.reportExits);
    }
    // Ten times the first wait, but never more than a day.
    RestartPolicy policy;
    policy.retryFailedStartsSeconds = 50000;
    DoublingDelay waits;
    EXPECT_EQ(50000u, NextRetrySeconds(policy, waits));
    EXPECT_EQ(86400u, NextRetrySeconds(policy, waits));
    std::remove(path.c_str());
}

} // namespace
