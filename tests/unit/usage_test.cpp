// What an application uses, read when asked: sums over its tree or its
// container's figures; and [MaxMemory], which restarts one that stays over
// its limit, and runs no timer without the key.
#include "common/text.h"
#include "config/settings.h"
#include "loop/timers.h"
#include "supervisor/memory_limit.h"
#include "supervisor/usage.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(SizeTextTest, KilobytesMegabytesGigabytes) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0K"},
        {900 * 1024, "900K"},
        {1023 * 1024, "1023K"},
        {1024 * 1024, "1.0M"},
        {(8u << 20) + (512u << 10), "8.5M"},
        {40u << 20, "40M"},
        {1023u << 20, "1023M"},
        {std::uint64_t{3} << 29, "1.5G"},
        {std::uint64_t{40} << 30, "40G"},
        {std::uint64_t{4096} << 30, "4096G"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, SizeText(c.bytes)) << c.bytes;
}

TEST(SizeTextTest, MaxMemoryIsReadAsASize) {
    test::ScratchDirectory scratch("zelk_usage_");
    scratch.Config("[Applications]\nweb=C:\\web.exe\nworker=C:\\worker.exe\ndb=C:\\db.exe\n"
                   "[MaxMemory]\nweb = 30M\nworker = lots\ndb = 0\n");
    Settings settings;
    ASSERT_TRUE(ReadSettings("zelkappmgr.ini", &settings));
    EXPECT_EQ(30u << 20, settings.apps[0].maxMemoryBytes);
    EXPECT_EQ(0u, settings.apps[1].maxMemoryBytes);
    EXPECT_EQ("lots", settings.apps[1].ignoredMaxMemory);
    EXPECT_EQ(0u, settings.apps[2].maxMemoryBytes);
    EXPECT_EQ("0", settings.apps[2].ignoredMaxMemory);
    EXPECT_TRUE(settings.unknownSections.empty());
}

constexpr std::uint32_t kApp = 1000; // the id the launch gets

class UsageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Fresh();
        settings = test::App("web", "C:\\web\\web.exe");
    }
    static void Fresh() {
        test::ResetManager();
        fake::AddFile("C:\\web\\web.exe", "C:\\web\\web.exe");
    }
    static AppEntry& Web() { return *appTable.entries[0]; }
    static void Uses(std::uint32_t pid, std::uint64_t cpuMs, std::uint64_t memoryBytes) {
        fake::Get().processUsage[pid] = port::Usage{true, cpuMs, true, memoryBytes};
    }
    static std::size_t Said(const std::string& message) {
        const std::vector<std::string> all = test::LogMessages();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), message));
    }
    AppSettings settings;
};

// The tree's processes are summed, children and session members included,
// other processes not; without a process nothing is known.
TEST_F(UsageTest, ATreeIsSummedAndAContainerTellsForAll) {
    test::Add(settings);
    fake::AddProcess(kApp + 1, kApp, "C:\\web\\child.exe");
    fake::AddProcess(kApp + 2, kApp + 1, "C:\\web\\grandchild.exe");
    fake::AddProcess(kApp + 3, 1, "C:\\other.exe");
    Uses(kApp, 1500, 10u << 20);
    Uses(kApp + 1, 250, 5u << 20);
    Uses(kApp + 2, 0, 1u << 20);
    Uses(kApp + 3, 9999, 99u << 20);
    port::Usage usage = ReadAppUsage(Web());
    EXPECT_TRUE(usage.cpuKnown && usage.memoryKnown);
    EXPECT_EQ(1750u, usage.cpuMs);
    EXPECT_EQ(16u << 20, usage.memoryBytes);

    // Its container, when it has one, tells for all; what it does not tell
    // comes from the processes.
    Fresh();
    settings.containProcesses = true;
    test::Add(settings);
    Uses(kApp, 100, 3u << 20);
    fake::Get().containerUsage["C:\\jobs\\web"] = port::Usage{true, 4000, false, 0};
    usage = ReadAppUsage(Web());
    EXPECT_EQ(4000u, usage.cpuMs);
    EXPECT_EQ(3u << 20, usage.memoryBytes);

    Dispatch(Web(), AppEvent::StopAsked);
    usage = ReadAppUsage(Web());
    EXPECT_FALSE(usage.cpuKnown || usage.memoryKnown);
}

// Over the limit in two readings in a row: restarted, and said why. One
// reading over, then one under, starts the count again.
TEST_F(UsageTest, AnApplicationOverItsLimitTwiceInARowIsRestarted) {
    settings.maxMemoryBytes = 30u << 20;
    test::Add(settings);
    Uses(kApp, 0, 40u << 20);
    test::RunLoop([](int) { return Web().memory.overInARow == 0; });
    Uses(kApp, 0, 20u << 20);
    test::RunLoop([](int) { return Web().memory.overInARow == 1; });
    EXPECT_EQ(0u, Said("web uses 40M, over its limit of 30M; restarting it."));
    Uses(kApp, 0, 40u << 20);
    test::RunLoop([](int) { return fake::Get().launches.size() < 2; });
    EXPECT_EQ(1u, Said("web uses 40M, over its limit of 30M; restarting it."));
    EXPECT_EQ(1u, Said("Terminating process web."));
    EXPECT_EQ(AppState::Running, Web().state);
    EXPECT_TRUE(Web().memory.next.Pending()); // the new process is watched too
}

// Without the key no timer runs for it; with it the container's memory.high
// follows the limit, and a reload that drops the key ends the watch.
TEST_F(UsageTest, OnlyALimitReadsMemoryAndBoundsTheContainer) {
    test::Add(settings);
    EXPECT_EQ(port::kWaitForever, TimerWaitLimitMs());
    EXPECT_FALSE(Web().memory.next.Pending());

    Fresh();
    settings.containProcesses = true;
    settings.maxMemoryBytes = 64u << 20;
    test::Add(settings);
    EXPECT_TRUE(Web().memory.next.Pending());
    using Writes = std::vector<std::pair<std::string, std::uint64_t>>;
    EXPECT_EQ((Writes{{"C:\\jobs\\web", 64u << 20}}), fake::Get().memoryHigh);

    Web().settings.maxMemoryBytes = 0;
    KeepWatchingMemory(Web());
    EXPECT_FALSE(Web().memory.next.Pending());
    EXPECT_EQ((Writes{{"C:\\jobs\\web", 64u << 20}, {"C:\\jobs\\web", 0}}), fake::Get().memoryHigh);
}

// "top" exists with ExtraCommands only, and shows the status table.
TEST_F(UsageTest, TopShowsTheStatusTableWithExtraCommands) {
    test::Add(settings);
    EXPECT_EQ("No such command", test::Typed("top").back());
    test::ResetManager(100, 60, true);
    fake::AddFile("C:\\web\\web.exe", "C:\\web\\web.exe");
    test::Add(settings);
    Uses(kApp, 2500, 3u << 20);
    const std::vector<std::string> shown = test::Typed("top");
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ(0u, shown[0].find("NUM  NAME  STATE"));
    EXPECT_NE(std::string::npos, shown[1].find("2.50  3.0M  tree"));
}

} // namespace
