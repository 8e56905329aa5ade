// Reading the configuration again while applications run.
#include "app/reload.h"

#include "app/apply_settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using test::Typed;

class ReloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager(100, 80, true);
        for (const char* name : {"a", "b", "c", "d"})
            fake::AddFile(Path(name), Path(name));
    }
    void TearDown() override { EXPECT_EQ(0, fake::BadCloses()); }

    static std::string Path(const std::string& name) { return "C:\\apps\\" + name + ".exe"; }
    void Config(const std::string& text) { scratch.Config(text); }
    // Starts the applications of `text` as start-up does.
    void Start(const std::string& text) {
        Config(text);
        Settings settings;
        ASSERT_TRUE(ReadSettings(kConfigFileName, &settings));
        AddApplications(settings.apps);
    }
    static std::uint32_t Pid(int number) {
        return fake::PidOf(appTable.entries[number]->process.Get());
    }

    test::ScratchDirectory scratch{"zelk-reload-"};
};

TEST_F(ReloadTest, OnlyWhatChangedIsTouchedAndNumbersStay) {
    Start("[Applications]\nA=C:\\apps\\a.exe\nB=C:\\apps\\b.exe\nC=C:\\apps\\c.exe\n"
          "[Parameters]\nB=--old\n");
    const std::uint32_t a = Pid(0), b = Pid(1), c = Pid(2);
    // The names match ignoring case; D is new.
    Config("[Applications]\na=C:\\apps\\a.exe\nB=C:\\apps\\b.exe\nD=C:\\apps\\d.exe\n"
           "[Parameters]\nB=--new\n");
    const Lines logged = Typed("reload");

    EXPECT_EQ(a, Pid(0));
    EXPECT_NE(b, Pid(1));
    for (const fake::Launch& launch : fake::Get().launches) {
        if (launch.pid == Pid(1)) {
            EXPECT_EQ("--new", launch.parameters);
        }
    }
    EXPECT_FALSE(fake::FindProcess(c)->alive);
    ASSERT_EQ(4, appTable.count);
    EXPECT_EQ("D", appTable.entries[3]->settings.name);
    EXPECT_EQ(Lines({"Configuration of B changed.", "Terminating process B.", "Starting process B.",
                     "Terminating process C.", "Starting process D.",
                     "Configuration reloaded: 1 added, 1 removed, 1 changed, 1 unchanged."}),
              logged);

    // The removed number is shown empty and refuses commands.
    const Lines list = Typed("list");
    EXPECT_EQ("   2: C [REMOVED]", list[4]);
    EXPECT_EQ(Lines{"Application does not exist."}, Typed("start 2"));
    const std::size_t launches = fake::Get().launches.size();
    Typed("stopall");
    Typed("startall");
    EXPECT_EQ(launches + 3, fake::Get().launches.size()) << "A, B and D only";

    // Added back, the name takes its old number again.
    Config("[Applications]\nA=C:\\apps\\a.exe\nB=C:\\apps\\b.exe\nD=C:\\apps\\d.exe\n"
           "C=C:\\apps\\c.exe\n[Parameters]\nB=--new\n");
    EXPECT_EQ("Configuration reloaded: 1 added, 0 removed, 0 changed, 3 unchanged.",
              Typed("reload").back());
    ASSERT_EQ(4, appTable.count);
    EXPECT_TRUE(IsUp(*appTable.entries[2]));
    EXPECT_EQ("C", appTable.entries[2]->settings.name);
}

TEST_F(ReloadTest, OneTheOperatorStoppedStaysStoppedChangedOrNot) {
    Start("[Applications]\nA=C:\\apps\\a.exe\nB=C:\\apps\\b.exe\n");
    Typed("stop 0");
    Typed("stop 1");
    const std::size_t launches = fake::Get().launches.size();
    Config("[Applications]\nA=C:\\apps\\a.exe\nB=C:\\apps\\b.exe\n[Parameters]\nB=-x\n");
    EXPECT_EQ("Configuration reloaded: 0 added, 0 removed, 1 changed, 1 unchanged.",
              Typed("reload").back());
    EXPECT_EQ(launches, fake::Get().launches.size());
    Typed("start 1");
    EXPECT_EQ("-x", fake::Get().launches.back().parameters);
}

TEST_F(ReloadTest, DirectoryAndEnvironmentAreSettingsToo) {
    Start("[Applications]\nA=C:\\apps\\a.exe\n[WorkingDirectory]\nA=C:\\work\n"
          "[Environment]\nA=X=1 \"Y=two words\" bare\n");
    EXPECT_EQ("C:\\work", fake::Get().launches.back().directory);
    EXPECT_EQ(Lines({"X=1", "Y=two words"}), fake::Get().launches.back().environment);
    // A changed value, then no section: each a change.
    for (const char* text : {"[Environment]\nA=X=2 \"Y=two words\"\n", ""}) {
        Config(std::string("[Applications]\nA=C:\\apps\\a.exe\n[WorkingDirectory]\nA=C:\\work\n") +
               text);
        EXPECT_EQ("Configuration reloaded: 0 added, 0 removed, 1 changed, 0 unchanged.",
                  Typed("reload").back());
    }
    EXPECT_TRUE(fake::Get().launches.back().environment.empty());
    // Without the directory, the executable's.
    Config("[Applications]\nA=C:\\apps\\a.exe\n");
    Typed("reload");
    EXPECT_EQ("C:\\apps", fake::Get().launches.back().directory);
}

} // namespace
