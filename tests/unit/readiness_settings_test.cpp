// The values of [Ready] and [Health], and the five sections read for one
// application.
#include "config/readiness.h"
#include "config/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(ReadinessSettingsTest, ReadyRules) {
    using K = ReadyRule::Kind;
    const struct {
        const char* text;
        bool read;
        K kind;
        const char* host;
        int port;
        std::uint32_t delayMs;
        const char* line;
    } cases[] = {
        {"port 5432", true, K::Port, "127.0.0.1", 5432, 0, ""},
        {"  PORT   10.0.0.2:80 ", true, K::Port, "10.0.0.2", 80, 0, ""},
        {"port localhost:8080", true, K::Port, "127.0.0.1", 8080, 0, ""},
        {"port [::1]:8080", true, K::Port, "::1", 8080, 0, ""},
        {"port db.local:5432", false, K::Launched, "", 0, 0, ""}, // names are never looked up
        {"port 65536", false, K::Launched, "", 0, 0, ""},
        {"port 0", false, K::Launched, "", 0, 0, ""},
        {"port 300.1.1.1:80", false, K::Launched, "", 0, 0, ""},
        {"delay 2", true, K::Delay, "127.0.0.1", 0, 2000, ""},
        {"delay 1.5", true, K::Delay, "127.0.0.1", 0, 1500, ""},
        {"delay soon", false, K::Launched, "", 0, 0, ""},
        {"output ready now", true, K::Output, "127.0.0.1", 0, 0, "ready now"},
        {"output", false, K::Launched, "", 0, 0, ""},
        {"notify", true, K::Notify, "127.0.0.1", 0, 0, ""},
        {"notify me", false, K::Launched, "", 0, 0, ""},
        {"when ready", false, K::Launched, "", 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ReadyRule rule;
        ASSERT_EQ(c.read, ParseReadyRule(c.text, &rule));
        if (!c.read)
            continue;
        EXPECT_EQ(c.kind, rule.kind);
        EXPECT_EQ(c.host, rule.address.host);
        EXPECT_EQ(c.port, rule.address.port);
        EXPECT_EQ(c.delayMs, rule.delayMs);
        EXPECT_EQ(c.line, rule.text);
    }
}

TEST(ReadinessSettingsTest, HealthChecks) {
    using K = HealthCheck::Kind;
    const struct {
        const char* text;
        bool read;
        K kind;
        int port;
        const char* command;
        std::uint32_t every;
    } cases[] = {
        {"port 8080 every 10", true, K::Port, 8080, "", 10},
        {"port 127.0.0.1:8080 EVERY 1", true, K::Port, 8080, "", 1},
        {"command \"curl -fs http://localhost/\" every 5", true, K::Command, 0,
         "curl -fs http://localhost/", 5},
        {"command \"test -e \"x\"\" every 5", true, K::Command, 0, "test -e \"x\"", 5},
        {"port 8080", false, K::None, 0, "", 0},
        {"port 8080 every 0", false, K::None, 0, "", 0},
        {"command curl every 5", false, K::None, 0, "", 0},
        {"every 5", false, K::None, 0, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        HealthCheck check;
        ASSERT_EQ(c.read, ParseHealthCheck(c.text, &check));
        if (!c.read)
            continue;
        EXPECT_EQ(c.kind, check.kind);
        EXPECT_EQ(c.port, check.address.port);
        EXPECT_EQ(c.command, check.command);
        EXPECT_EQ(c.every, check.everySeconds);
    }
}

TEST(ReadinessSettingsTest, TheSectionsOfOneApplicationAndWhatCannotBeRead) {
    test::ScratchDirectory scratch("zelk-readiness-");
    scratch.Config("[Applications]\nweb = /w\ndb = /d\n"
                   "[After]\nweb = db \"cache one\"\n"
                   "[Ready]\nweb = port 8080\ndb = port db:5432\n"
                   "[ReadyTimeout]\nweb = 5\ndb = 0\n"
                   "[Health]\nweb = command \"check\" every 2\ndb = ping\n"
                   "[HealthFailures]\nweb = 0\n");
    Settings settings;
    ASSERT_TRUE(ReadSettings(kConfigFileName, &settings));
    const ReadinessSettings& web = settings.apps[0].readiness;
    EXPECT_EQ((std::vector<std::string>{"db", "cache one"}), web.after);
    EXPECT_EQ(ReadyRule::Kind::Port, web.ready.kind);
    EXPECT_EQ(5u, web.readyTimeoutSeconds);
    EXPECT_EQ("check", web.health.command);
    EXPECT_EQ(1u, web.healthFailures) << "at least one";
    EXPECT_TRUE(web.ignored.empty());
    const ReadinessSettings& db = settings.apps[1].readiness;
    EXPECT_EQ(ReadyRule::Kind::Launched, db.ready.kind);
    EXPECT_EQ(0u, db.readyTimeoutSeconds) << "no limit";
    EXPECT_EQ(kDefaultHealthFailures, db.healthFailures);
    EXPECT_EQ((std::vector<std::string>{"ready rule port db:5432", "health check ping"}),
              db.ignored);
}

} // namespace
