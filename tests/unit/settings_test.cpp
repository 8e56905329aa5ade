// The settings value read from a file: what each section gives an
// application, and what it leaves out to be reported.
#include "config/settings.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The settings of the one application "a" of a file with `sections`.
AppSettings Read(const std::string& sections) {
    test::ScratchDirectory scratch("zelk-settings-");
    scratch.Config("[Applications]\na = a.exe\n" + sections);
    Settings settings;
    EXPECT_TRUE(ReadSettings(kConfigFileName, &settings));
    return settings.apps.empty() ? AppSettings{} : settings.apps[0];
}

TEST(SettingsTest, TheStopSignalIsOneOfThoseThatAskAndMayGoToTheMainProcessAlone) {
    const struct {
        const char* value;
        int signal;
        bool main;
        const char* ignored;
    } cases[] = {
        {"QUIT main", 3, true, ""},  {"sigint", 2, false, ""},           {"HUP", 1, false, ""},
        {"TERM Main", 15, true, ""}, {"KILL", 0, false, "KILL"},         {"STOP", 0, false, "STOP"},
        {"PIPE", 0, false, "PIPE"},  {"QUIT all", 0, false, "QUIT all"},
    };
    for (const auto& c : cases) {
        const AppSettings app = Read(std::string("[StopSignal]\na = ") + c.value + "\n");
        EXPECT_EQ(c.signal, app.stopSignal) << c.value;
        EXPECT_EQ(c.main, app.stopMainOnly) << c.value;
        EXPECT_EQ(c.ignored, app.ignoredStopSignal) << c.value;
    }
    EXPECT_EQ(0, Read("").stopSignal);
}

TEST(SettingsTest, ALaterVariableOfTheSameNameReplacesTheEarlierOne) {
    const AppSettings app = Read("[Environment]\na = A=1 B=2 A=3 AB=4 =5\n");
    EXPECT_EQ((std::vector<std::string>{"A=3", "B=2", "AB=4"}), app.environment);
    EXPECT_EQ(std::vector<std::string>{"=5"}, app.ignoredEnvironment);
}

} // namespace
