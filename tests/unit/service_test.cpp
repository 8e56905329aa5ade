// Starting at boot: the service options, the start and stop times a service
// manager is given, and the systemd unit's text.
#include "app/options.h"
#include "app/service_start_time.h"
#include "app/service_stop_time.h"
#include "app/systemd_unit.h"
#include "config/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool Parse(std::vector<const char*> args, Options* options, std::string* error) {
    args.insert(args.begin(), "zelkappmgr");
    return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(ServiceOptions, ModesNamesAndDirectory) {
    struct Case {
        std::vector<const char*> args;
        ServiceAction action;
        const char* name;
        const char* directory;
    };
    const Case cases[] = {
        {{"--install-service"}, ServiceAction::Install, "ZelkAppMgr", ""},
        {{"--install-service", "Web Apps"}, ServiceAction::Install, "Web Apps", ""},
        {{"--uninstall-service"}, ServiceAction::Uninstall, "ZelkAppMgr", ""},
        {{"--uninstall-service", "Web"}, ServiceAction::Uninstall, "Web", ""},
        {{"--service", "--dir", "C:\\my apps"}, ServiceAction::Run, "", "C:\\my apps"},
        {{"--print-service"}, ServiceAction::PrintUnit, "", ""},
    };
    for (const Case& c : cases) {
        Options o;
        std::string error;
        ASSERT_TRUE(Parse(c.args, &o, &error)) << c.args[0] << ": " << error;
        EXPECT_EQ(ProgramMode::Service, o.mode) << c.args[0];
        EXPECT_EQ(c.action, o.service.action) << c.args[0];
        EXPECT_EQ(c.name, o.service.name) << c.args[0];
        EXPECT_EQ(c.directory, o.service.directory) << c.args[0];
    }
    // The line of --send is no option.
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--send", "--service"}, &o, &error));
    EXPECT_EQ(ProgramMode::Send, o.mode);
}

TEST(ServiceOptions, Refusals) {
    const std::vector<std::vector<const char*>> bad = {
        {"--service"},
        {"--service", "--dir"},
        {"--service", "--dir", "a", "--dir", "b"},
        {"--dir", "a"},
        {"--print-service", "--dir", "a"},
        {"--print-service", "name"},
        {"--install-service", "a", "b"},
        {"--install-service", "--status"},
        {"--headless", "--uninstall-service"},
        {"--install-service", "--print-service"},
        {"--install-service", "--install-service"},
    };
    for (const auto& args : bad) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse(args, &o, &error)) << args[0] << " " << args.size();
        EXPECT_FALSE(error.empty());
    }
}

// The settings of `ini`, each case with the same applications.
Settings SettingsOf(const std::string& ini) {
    const fs::path path =
        fs::temp_directory_path() /
        ("zelk-service-time-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::ofstream(path, std::ios::trunc)
        << ini << "[Applications]\nweb = /srv/zelk-test/web\nother = /srv/zelk-test/other\n"
        << "a = /srv/zelk-test/a\nb = /srv/zelk-test/b\nc = /srv/zelk-test/c\n"
        << "db = /srv/zelk-test/db\n";
    Settings settings;
    EXPECT_TRUE(ReadSettings(path.string(), &settings));
    fs::remove(path);
    return settings;
}

// A configuration, the longest time its applications ask for and the time a
// service manager is given.
struct ServiceTimeCase {
    const char* ini;
    std::uint32_t longest;
    std::uint32_t service;
};

void ExpectServiceTimes(const std::vector<ServiceTimeCase>& cases,
                        std::uint32_t (*longest)(const Settings&),
                        std::uint32_t (*service)(std::uint32_t)) {
    for (const ServiceTimeCase& c : cases) {
        const Settings settings = SettingsOf(c.ini);
        EXPECT_EQ(c.longest, longest(settings)) << c.ini;
        EXPECT_EQ(c.service, service(longest(settings))) << c.ini;
    }
}

TEST(ServiceStopTime, LongestStopTimeLimitAndMargin) {
    ExpectServiceTimes(
        {
            {"", 0, 30},
            {"[General]\nStopTimeout = 10\n", 10, 30},
            {"[General]\nStopTimeout = 20\n[StopTimeout]\nweb = 50\nold = 5\n", 50, 65},
            {"[general]\nstoptimeout = 40\n[StopTimeout]\nweb = 0\n", 40, 55},
            {"[General]\nStopTimeout = 5\nStopTimeout = 100\n", 5, 30},
            {"[stoptimeout]\na = -5\nb = soon\n[StopTimeout]\nc = 7\n", 7, 30},
            {"[General]\nStopTimeout = 99999\n", 3600, 3615},
        },
        LongestStopSeconds, ServiceStopSeconds);
}

TEST(ServiceStartTime, LongestWaitForReadinessAndMargin) {
    constexpr std::uint32_t kUnlimited = kUnlimitedStartSeconds;
    ExpectServiceTimes(
        {
            // Ready once launched: a time limit for readiness does not matter.
            {"[ReadyTimeout]\nweb = 500\nother = 0\n", 0, 90},
            {"[Ready]\nweb = port 8080\n", 60, 90},
            {"[Ready]\nweb = port 8080\ndb = delay 5\n[ReadyTimeout]\nweb = 95\ndb = 20\n", 95,
             125},
            {"[Ready]\nweb = port 8080\n[ReadyTimeout]\nweb = 0\n", kUnlimited, kUnlimited},
            {"[Ready]\nweb = port 8080\n[ReadyTimeout]\nother = 0\n", 60, 90},
            {"[Ready]\nweb = port 8080\n[ReadyTimeout]\nweb = soon\n", kUnlimited, kUnlimited},
            {"[Ready]\nweb = port 8080\n[ReadyTimeout]\nweb = 999999\n", 86400, 86430},
            // One starts once those before it are ready: their times add up
            // along the longest chain, whatever comes first in the file.
            {"[Ready]\nweb = port 8080\ndb = port 5432\n[ReadyTimeout]\ndb = 120\n"
             "[After]\nweb = db\nother = web\n",
             180, 210},
            {"[Ready]\nweb = port 8080\ndb = port 5432\na = notify\n[ReadyTimeout]\n"
             "db = 120\nweb = 10\na = 200\n[After]\nc = web a\nweb = db\n",
             200, 230},
            // A cycle is ignored: both start at once.
            {"[Ready]\nweb = port 8080\ndb = port 5432\n[After]\nweb = db\ndb = web\n", 60, 90},
        },
        LongestReadySeconds, ServiceStartSeconds);
}

TEST(SystemdUnit, PathsReachSystemdUnchanged) {
    const std::pair<const char*, const char*> executables[] = {
        {"/usr/local/bin/zelkappmgr", "/usr/local/bin/zelkappmgr"},
        {"/opt/my apps/zelkappmgr", "\"/opt/my apps/zelkappmgr\""},
        {"/opt/100%/zelkappmgr", "/opt/100%%/zelkappmgr"},
        {"/opt/$HOME/zelkappmgr", "/opt/$HOME/zelkappmgr"},
        {"/opt/50% off/zelkappmgr", "\"/opt/50%% off/zelkappmgr\""},
    };
    for (const auto& [path, written] : executables)
        EXPECT_EQ(written, UnitExecutable(path)) << path;
    EXPECT_EQ("/srv/my site 100%%", UnitValue("/srv/my site 100%"));
}

// The values of `key` in the unit, in order.
std::vector<std::string> Values(const std::string& unit, const std::string& key) {
    std::vector<std::string> values;
    std::istringstream in(unit);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + "=", 0) == 0)
            values.push_back(line.substr(key.size() + 1));
    return values;
}

TEST(SystemdUnit, NamesTheProgramDirectoryUserAndStopTime) {
    UnitFacts facts;
    facts.program = "/opt/zelk tools/zelkappmgr";
    facts.directory = "/srv/site";
    facts.user = "alice";
    facts.longestReadySeconds = 95;
    facts.startSeconds = 125;
    facts.longestStopSeconds = 50;
    facts.stopSeconds = 65;
    std::string unit;
    std::string problem;
    ASSERT_TRUE(WriteSystemdUnit(facts, &unit, &problem));
    using Strings = std::vector<std::string>;
    EXPECT_EQ(Strings{"125"}, Values(unit, "TimeoutStartSec"));
    EXPECT_EQ(Strings{"\"/opt/zelk tools/zelkappmgr\" --headless"}, Values(unit, "ExecStart"));
    EXPECT_EQ(Strings{"/srv/site"}, Values(unit, "WorkingDirectory"));
    EXPECT_EQ(Strings{"alice"}, Values(unit, "User"));
    EXPECT_EQ(Strings{"65"}, Values(unit, "TimeoutStopSec"));
    EXPECT_EQ(Strings{}, Values(unit, "Environment"));
    EXPECT_NE(std::string::npos, unit.find("#Environment=ZELKAPPMGR_RUNTIME_DIR="));

    // As root: no User= line. A runtime directory of the caller is set for the service.
    facts.user.clear();
    facts.runtimeDirectory = "/run/zelk apps";
    ASSERT_TRUE(WriteSystemdUnit(facts, &unit, &problem));
    EXPECT_EQ(Strings{}, Values(unit, "User"));
    EXPECT_EQ(Strings{"\"ZELKAPPMGR_RUNTIME_DIR=/run/zelk apps\""}, Values(unit, "Environment"));

    // An application that may take any time to become ready.
    facts.longestReadySeconds = facts.startSeconds = kUnlimitedStartSeconds;
    ASSERT_TRUE(WriteSystemdUnit(facts, &unit, &problem));
    EXPECT_EQ(Strings{"infinity"}, Values(unit, "TimeoutStartSec"));
}

TEST(SystemdUnit, FactsThatCannotStandInAUnitAreRefused) {
    const struct {
        const char* program;
        const char* directory;
        const char* problem;
    } cases[] = {
        {"/usr/bin/zelkappmgr", "/srv/a\nExecStartPre=/bin/evil", "working directory"},
        {"/usr/bin/zelkappmgr", "/srv/site ", "working directory"},
        {"/opt/it's/zelkappmgr", "/srv/site", "program's path"},
        {"/opt/a\\b/zelkappmgr", "/srv/site", "program's path"},
        {"/opt/a\tb/zelkappmgr", "/srv/site", "program's path"},
    };
    for (const auto& c : cases) {
        UnitFacts facts;
        facts.program = c.program;
        facts.directory = c.directory;
        std::string unit;
        std::string problem;
        EXPECT_FALSE(WriteSystemdUnit(facts, &unit, &problem)) << c.program << c.directory;
        EXPECT_NE(std::string::npos, problem.find(c.problem)) << problem;
    }
}

} // namespace
