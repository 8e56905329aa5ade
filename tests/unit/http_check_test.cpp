// http:// readiness rules and health checks: the address read from the
// file, the status line read from the answer, and the GET over the fake
// port: a 2xx or 3xx is ready or healthy, anything else (a refusal, no
// answer in time) is not.
#include "config/readiness.h"
#include "supervisor/health_check.h"
#include "supervisor/http_get.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(HttpUrlTest, ReadsNumericHostsPortsAndPaths) {
    const struct {
        const char* text;
        bool read;
        const char* host;
        int port;
        const char* path;
        const char* hostHeader;
    } cases[] = {
        {"http://127.0.0.1:8080/ready", true, "127.0.0.1", 8080, "/ready", "127.0.0.1:8080"},
        {"HTTP://localhost:81", true, "127.0.0.1", 81, "/", "localhost:81"},
        {"http://10.1.2.3/health?deep=1", true, "10.1.2.3", 80, "/health?deep=1", "10.1.2.3"},
        {"http://[::1]:9000/x#part", true, "::1", 9000, "/x", "[::1]:9000"},
        {"http://[::1]/", true, "::1", 80, "/", "[::1]"},
        {"http://127.0.0.1:8080?q", true, "127.0.0.1", 8080, "/?q", "127.0.0.1:8080"},
        {"http://example.com:80/", false, "", 0, "", ""}, // names are never looked up
        {"https://127.0.0.1:443/", false, "", 0, "", ""}, // no TLS
        {"http://::1:80/", false, "", 0, "", ""},         // IPv6 wants its brackets
        {"http://127.0.0.1:0/", false, "", 0, "", ""},
        {"http://127.0.0.1:70000/", false, "", 0, "", ""},
        {"http://127.0.0.1:/", false, "", 0, "", ""},
        {"http:///path", false, "", 0, "", ""},
        {"http://127.0.0.1:80/a\x01", false, "", 0, "", ""},
        {"port 80", false, "", 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        HttpUrl url;
        ASSERT_EQ(c.read, ParseHttpUrl(c.text, &url));
        if (!c.read)
            continue;
        EXPECT_EQ(c.host, url.address.host);
        EXPECT_EQ(c.port, url.address.port);
        EXPECT_EQ(c.path, url.path);
        EXPECT_EQ(c.hostHeader, url.hostHeader);
    }
}

TEST(HttpUrlTest, IsARuleAndACheckWithItsPeriod) {
    ReadyRule rule;
    ASSERT_TRUE(ParseReadyRule(" http://127.0.0.1:8080/ready ", &rule));
    EXPECT_EQ(ReadyRule::Kind::Http, rule.kind);
    EXPECT_EQ("/ready", rule.url.path);
    EXPECT_FALSE(ParseReadyRule("http://127.0.0.1:8080/ready every 2", &rule));

    HealthCheck check;
    ASSERT_TRUE(ParseHealthCheck("http://[::1]:8080/health every 3", &check));
    EXPECT_EQ(HealthCheck::Kind::Http, check.kind);
    EXPECT_EQ(3u, check.everySeconds);
    EXPECT_EQ("::1", check.url.address.host);
    EXPECT_FALSE(ParseHealthCheck("http://127.0.0.1:8080/health", &check));
    EXPECT_FALSE(ParseHealthCheck("http://127.0.0.1:8080/health soon every 3", &check));
    EXPECT_FALSE(ParseHealthCheck("http://127.0.0.1:8080/health every 0", &check));
}

TEST(HttpStatusLineTest, TwoAndThreeHundredsSucceed) {
    using S = StatusLine;
    const struct {
        const char* received;
        bool ended;
        S line;
        int status;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, S::Success, 200},
        {"HTTP/1.0 204 No Content\n", false, S::Success, 204},
        {"HTTP/1.1 302 Found\r\n", false, S::Success, 302},
        {"HTTP/1.1 399\r\n", false, S::Success, 399},
        {"HTTP/1.1 200 OK", true, S::Success, 200}, // the line ends with the answer
        {"HTTP/1.1 199 Early\r\n", false, S::Failure, 199},
        {"HTTP/1.1 404 Not Found\r\n", false, S::Failure, 404},
        {"HTTP/1.1 500 Internal Server Error\r\n", false, S::Failure, 500},
        {"HTTP/1.1 200 OK", false, S::Incomplete, 0},
        {"HTTP/1.", false, S::Incomplete, 0},
        {"", false, S::Incomplete, 0},
        {"", true, S::Failure, 0},
        {"HTTP/1.1 20 OK\r\n", false, S::Failure, 0},
        {"HTTP/1.1 2000 OK\r\n", false, S::Failure, 0},
        {"HTTP/1.1  200 OK\r\n", false, S::Failure, 0},
        {"http/1.1 200 OK\r\n", false, S::Failure, 0},
        {"SSH-2.0-OpenSSH_9.2\r\n", false, S::Failure, 0},
        {"HTTP/1.1 200OK\r\n", false, S::Failure, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.received);
        int status = -1;
        EXPECT_EQ(c.line, ReadStatusLine(c.received, c.ended, &status));
        EXPECT_EQ(c.status, status);
    }
    // A first line that never ends is no HTTP.
    int status = 0;
    EXPECT_EQ(StatusLine::Failure,
              ReadStatusLine(std::string(kStatusLineMost, 'x'), false, &status));
}

TEST(HttpStatusLineTest, TheRequestNamesThePathAndHost) {
    HttpUrl url;
    ASSERT_TRUE(ParseHttpUrl("http://localhost:8080/ready?x=1", &url));
    EXPECT_EQ("GET /ready?x=1 HTTP/1.1\r\nHost: localhost:8080\r\nUser-Agent: zelkappmgr\r\n"
              "Accept: */*\r\nConnection: close\r\n\r\n",
              HttpRequest(url));
}

constexpr std::uint32_t kApp = 1000; // the id the launch gets

class HttpCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager();
        fake::AddFile("C:\\web\\web.exe", "C:\\web\\web.exe");
        settings = test::App("web", "C:\\web\\web.exe");
        ASSERT_TRUE(ParseHttpUrl("http://127.0.0.1:8080/ready", &url));
        fake::Get().listenerHolders[8080] = kApp;
    }
    static AppEntry& Web() { return *appTable.entries[0]; }
    static void RunMore(int passes) {
        const int start = fake::Get().waits;
        test::RunLoop([start, passes](int wait) { return wait < start + passes; });
    }
    AppSettings settings;
    HttpUrl url;
};

// Refused while nothing listens, then a 503, then a 200: ready at the
// 200, one GET at a time.
TEST_F(HttpCheckTest, ReadyAtTheFirstSuccess) {
    settings.readiness.ready.kind = ReadyRule::Kind::Http;
    settings.readiness.ready.url = url;
    settings.readiness.readyTimeoutSeconds = 0;
    test::Add(settings);
    RunMore(4);
    EXPECT_EQ(AppState::Starting, Web().state);
    ASSERT_FALSE(fake::Get().requests.empty());
    EXPECT_EQ(8080, fake::Get().requests[0].first);
    EXPECT_EQ(HttpRequest(url), fake::Get().requests[0].second);

    fake::Get().listening = {8080};
    fake::Get().answers[8080] = "HTTP/1.1 503 Service Unavailable\r\n\r\n";
    RunMore(4);
    EXPECT_EQ(AppState::Starting, Web().state);
    fake::Get().answers[8080] = "HTTP/1.1 200 OK\r\n\r\n";
    test::RunLoop([](int) { return Web().state == AppState::Starting; });
    EXPECT_EQ(AppState::Running, Web().state);
    EXPECT_FALSE(Web().readiness.get.exchange);
}

// A server that takes the connection but never answers fails at the
// check's limit; a 500 fails; a 301 is healthy.
TEST_F(HttpCheckTest, HealthFailsOnAnErrorOrNoAnswerInTime) {
    settings.readiness.health.kind = HealthCheck::Kind::Http;
    settings.readiness.health.url = url;
    settings.readiness.health.everySeconds = 2;
    settings.readiness.healthFailures = 5;
    fake::Get().listening = {8080};
    fake::Get().answers[8080] = "HTTP/1.1 301 Moved\r\nLocation: /x\r\n\r\n";
    test::Add(settings);
    test::RunLoop([](int) { return Web().health.health == Health::Unknown; });
    EXPECT_STREQ("healthy", HealthWord(Web()));

    fake::Get().answers[8080] = "HTTP/1.1 500 Oops\r\n\r\n";
    test::RunLoop([](int) { return Web().health.health == Health::Healthy; });
    EXPECT_EQ(1u, Web().health.failures);

    fake::Get().answers.clear(); // listens, never answers
    const std::uint64_t began = fake::Get().nowMs;
    test::RunLoop([](int) { return Web().health.failures < 2; });
    EXPECT_EQ(2u, Web().health.failures);
    EXPECT_FALSE(Web().health.get.exchange);
    EXPECT_LE(fake::Get().nowMs - began, 2u * 2000u + 100u);
}

} // namespace
