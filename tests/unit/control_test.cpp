// The command line, the control protocol's records and forms, and the
// manager's end of the control channel over the fake port.
#include "app/options.h"
#include "app/reload.h"
#include "console/console.h"
#include "control/control_protocol.h"
#include "control/control_server.h"
#include "fake_control.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

bool Parse(std::vector<const char*> args, Options* options, std::string* error) {
    args.insert(args.begin(), "zelkappmgr");
    return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(Options, ModesAndRefusals) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({}, &o, &error));
    EXPECT_EQ(ProgramMode::Manager, o.mode);
    ASSERT_TRUE(Parse({"-s", "stop 1"}, &o, &error));
    EXPECT_EQ(ProgramMode::Send, o.mode);
    EXPECT_EQ("stop 1", o.line);
    ASSERT_TRUE(Parse({"--send", ""}, &o, &error));
    EXPECT_EQ(ProgramMode::Send, o.mode);
    ASSERT_TRUE(Parse({"--json", "--status"}, &o, &error));
    EXPECT_EQ(ProgramMode::Status, o.mode);
    EXPECT_TRUE(o.json);
    ASSERT_TRUE(Parse({"--status", "--help"}, &o, &error));
    EXPECT_EQ(ProgramMode::Help, o.mode);
    ASSERT_TRUE(Parse({"-V"}, &o, &error));
    EXPECT_EQ(ProgramMode::Version, o.mode);
    ASSERT_TRUE(Parse({"--status", "--version"}, &o, &error));
    EXPECT_EQ(ProgramMode::Version, o.mode);
    ASSERT_TRUE(Parse({"--version", "--help"}, &o, &error));
    EXPECT_EQ(ProgramMode::Help, o.mode);
    // "zelkappmgr 1.2.3", with "+<commits>.g<commit>" between releases; --help
    // begins with it.
    EXPECT_TRUE(std::regex_match(
        VersionLine(), std::regex("zelkappmgr [0-9]+\\.[0-9]+\\.[0-9]+(\\+[0-9]+\\.g[0-9a-f]+)?")))
        << VersionLine();
    EXPECT_EQ(0u, UsageText().find(VersionLine() + "\nUsage: zelkappmgr"));
    ASSERT_TRUE(Parse({"--tail", "web"}, &o, &error));
    EXPECT_EQ(ProgramMode::Tail, o.mode);
    EXPECT_EQ("web", o.tail.name);
    EXPECT_EQ(kDefaultTailLines, o.tail.lines);
    EXPECT_FALSE(o.tail.follow);
    ASSERT_TRUE(Parse({"-f", "--tail", "3", "25"}, &o, &error));
    EXPECT_EQ("3", o.tail.name); // a number names the application, as on the console
    EXPECT_EQ(25, o.tail.lines);
    EXPECT_TRUE(o.tail.follow);

    for (const auto& bad : std::vector<std::vector<const char*>>{{"--send"},
                                                                 {"--bogus"},
                                                                 {"status"},
                                                                 {"--send", "a", "--status"},
                                                                 {"--json"},
                                                                 {"-s", "a", "-s", "b"},
                                                                 {"--version", "extra"},
                                                                 {"--tail"},
                                                                 {"--tail", "web", "0"},
                                                                 {"--follow"},
                                                                 {"--tail", "a", "--status"}}) {
        error.clear();
        EXPECT_FALSE(Parse(bad, &o, &error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(ControlProtocol, StatusRecordsSurviveTheTripAndFormAsTableAndJson) {
    AppStatus web;
    web.number = 0;
    web.name = "web \"a\"\\";
    web.state = "running";
    web.processId = 4321;
    web.upSeconds = 75;
    web.restarts = 2;
    web.lastExit = LastExit{LastExit::Kind::Signal, 11};
    web.cpuKnown = web.memoryKnown = true;
    web.cpuMs = 12345;
    web.memoryBytes = 45u << 20;
    AppStatus worker;
    worker.number = 12;
    worker.name = "w\tx";
    worker.state = "waiting";
    worker.lastExit = LastExit{LastExit::Kind::Code, 0xC0000005u};
    worker.startPending = true;
    worker.nextStartSeconds = 8;
    worker.quickExits = 3;
    worker.containment = "cgroup";
    worker.maxMemoryBytes = 30u << 20;

    AppStatus back;
    ASSERT_TRUE(DecodeStatusRecord(EncodeStatusRecord(web), &back));
    EXPECT_EQ(web.name, back.name);
    EXPECT_EQ(4321u, back.processId);
    EXPECT_EQ(75u, back.upSeconds);
    EXPECT_EQ(2u, back.restarts);
    EXPECT_EQ(LastExit::Kind::Signal, back.lastExit.kind);
    EXPECT_TRUE(back.cpuKnown && back.memoryKnown);
    EXPECT_EQ(12345u, back.cpuMs);
    EXPECT_EQ(45u << 20, back.memoryBytes);
    EXPECT_EQ(0u, back.maxMemoryBytes);
    ASSERT_TRUE(DecodeStatusRecord(EncodeStatusRecord(worker), &back));
    EXPECT_EQ("w?x", back.name); // a tab cannot travel inside a field
    EXPECT_EQ("waiting", back.state);
    EXPECT_TRUE(back.startPending);
    EXPECT_EQ(8u, back.nextStartSeconds);
    EXPECT_EQ(3u, back.quickExits);
    EXPECT_EQ("cgroup", back.containment);
    EXPECT_FALSE(back.cpuKnown || back.memoryKnown);
    EXPECT_EQ(30u << 20, back.maxMemoryBytes);
    EXPECT_FALSE(DecodeStatusRecord("0\trunning\t1\t2\t3\tcode:x\t-\t0\ttree\tname", &back));
    EXPECT_FALSE(DecodeStatusRecord("0\tGone!\t1\t2\t3\t-\t-\t0\ttree\tname", &back));
    EXPECT_FALSE(DecodeStatusRecord("0\trunning\t1\t2\t3\t-\t-\t0\tTree!\tname", &back));
    std::string badMemory = EncodeStatusRecord(web);
    badMemory.replace(badMemory.find("\t47185920\t"), 10, "\t47M\t");
    EXPECT_FALSE(DecodeStatusRecord(badMemory, &back));

    EXPECT_EQ("NUM  NAME      STATE     PID  UPTIME(S)  RESTARTS  LAST EXIT   NEXT START(S)  "
              "QUICK EXITS  CPU(S)  MEM  MAX MEM  CONTAINMENT\n"
              "  0  web \"a\"\\  running  4321         75         2  signal 11               -  "
              "          0   12.34  45M        -  tree\n"
              " 12  w?x       waiting     -          -         0  0xC0000005              8  "
              "          3       -    -      30M  cgroup\n",
              FormatStatusTable({web, worker}));
    EXPECT_EQ("[\n  {\"number\": 0, \"name\": \"web \\\"a\\\"\\\\\", \"state\": \"running\", "
              "\"pid\": 4321, \"uptime_seconds\": 75, \"restarts\": 2, \"last_exit_code\": null, "
              "\"last_exit_signal\": 11, \"next_start_seconds\": null, \"quick_exits\": 0, "
              "\"cpu_seconds\": 12.34, \"memory_bytes\": 47185920, \"max_memory_bytes\": null, "
              "\"containment\": \"tree\"},\n"
              "  {\"number\": 12, \"name\": \"w\\u0009x\", \"state\": \"waiting\", \"pid\": null, "
              "\"uptime_seconds\": null, \"restarts\": 0, \"last_exit_code\": 3221225477, "
              "\"last_exit_signal\": null, \"next_start_seconds\": 8, \"quick_exits\": 3, "
              "\"cpu_seconds\": null, \"memory_bytes\": null, \"max_memory_bytes\": 31457280, "
              "\"containment\": \"cgroup\"}\n]\n",
              FormatStatusJson({web, worker}));
    EXPECT_EQ("[]\n", FormatStatusJson({}));
}

TEST(ControlProtocol, TheRequestLineAndTheReplyAreFramedByLineEnds) {
    struct RequestCase {
        std::string received;
        bool ended;
        RequestLine result;
        std::string line;
    };
    const std::string longest(kMaxRequestLength, 'x');
    const RequestCase requests[] = {
        {"sta", false, RequestLine::Incomplete, ""},
        {"status\r\nmore", false, RequestLine::Complete, "status"},
        {"send a\rb\n", false, RequestLine::Complete, "send a\rb"},
        {"status", true, RequestLine::Complete, "status"},
        {longest + "\n", false, RequestLine::Complete, longest},
        {longest + "y", false, RequestLine::TooLong, ""},
        {longest + "y\n", false, RequestLine::TooLong, ""},
    };
    for (const RequestCase& c : requests) {
        std::string line;
        EXPECT_EQ(c.result, FindRequestLine(c.received, c.ended, &line)) << c.received;
        EXPECT_EQ(c.line, line) << c.received;
    }

    ControlReply reply;
    const std::string ok = EncodeOkReply({"one", ""});
    EXPECT_EQ("ok 2\none\n\n", ok);
    for (std::size_t cut = 0; cut < ok.size(); ++cut)
        EXPECT_EQ(ReplyState::Incomplete, DecodeReply(ok.substr(0, cut), &reply)) << cut;
    ASSERT_EQ(ReplyState::Complete, DecodeReply(ok, &reply));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ((Lines{"one", ""}), reply.lines);
    // A request that failed has the same payload; a reply that comes later
    // is told first, with the longest it may take.
    const std::string later = EncodeWaitNotice(5000) + EncodeOkReply({"done"}, true);
    EXPECT_EQ("wait 5000\nfailed 1\ndone\n", later);
    ASSERT_EQ(ReplyState::Incomplete, DecodeReply(EncodeWaitNotice(5000), &reply));
    EXPECT_EQ(5000u, reply.waitMs);
    ASSERT_EQ(ReplyState::Complete, DecodeReply(later, &reply));
    EXPECT_TRUE(reply.ok && reply.failed);
    EXPECT_EQ(Lines{"done"}, reply.lines);
    ASSERT_EQ(ReplyState::Complete, DecodeReply(EncodeErrorReply("no\x1b"), &reply));
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ("no?", reply.error);
    EXPECT_EQ(ReplyState::Malformed, DecodeReply("ok x\n", &reply));
    EXPECT_EQ(ReplyState::Malformed, DecodeReply("hello\n", &reply));
}

class ControlServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager();
        for (const char* name : {"alpha", "beta"}) {
            const std::string path = std::string("C:\\apps\\") + name + ".exe";
            fake::AddFile(path, path);
            test::Add(test::App(name, path));
        }
        OpenControlChannel(ReloadConfiguration);
    }

    // Lines up a client, runs the event loop's callback for the signalled
    // endpoint row and returns what the client got back.
    static fake::ControlClient Serve(fake::ControlClient client) {
        fake::Control().waiting.push_back(client);
        int row = 0;
        while (row < waitTable.count && waitTable.handles[row] != fake::ControlEndpoint())
            ++row;
        EXPECT_LT(row, waitTable.count);
        waitTable.callbacks[row](&waitTable, row, waitTable.contexts[row]);
        EXPECT_FALSE(fake::Control().served.empty());
        return fake::Control().served.back();
    }
    static fake::ControlClient Request(const std::string& text) {
        fake::ControlClient client;
        client.request = text;
        return Serve(client);
    }
};

TEST_F(ControlServerTest, ASentLineRunsAsTypedAndItsEntriesComeBack) {
    const int slot = console.currentSlot;
    const fake::ControlClient client = Request("send stop 1\n");
    EXPECT_EQ("ok 1\nTerminating process beta.\n", client.reply);
    EXPECT_TRUE(client.closed);
    EXPECT_FALSE(IsUp(*appTable.entries[1]));
    const Lines log = test::LogMessages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("Command from outside: stop 1", log[log.size() - 2]);
    EXPECT_EQ(slot, console.currentSlot); // the ring keeps typed lines only

    // What did not do what it asked fails.
    EXPECT_EQ("failed 1\nApplication does not exist.\n", Request("send stop 9\n").reply);
    EXPECT_EQ("failed 1\nNo such command\n", Request("send frobnicate\n").reply);

    EXPECT_EQ("ok 0\n", Request("send quit").reply); // the client's end of sending ends the line
    EXPECT_FALSE(RunningFlag);
}

// --tail asks where an application's output is: the path made whole
// against the manager's directory, or the console tail's refusal.
TEST_F(ControlServerTest, AnOutputRequestTellsThePathOrWhyNot) {
    const std::size_t logged = test::LogMessages().size();
    EXPECT_EQ("failed 1\nOutput is not captured.\n", Request("output beta\n").reply);
    appTable.entries[1]->settings.output.directory = "logs";
    EXPECT_EQ("ok 2\nC:\\work\\logs\\beta.log\nbeta\n", Request("output BETA\n").reply);
    EXPECT_EQ("ok 2\nC:\\work\\logs\\beta.log\nbeta\n", Request("output 1\n").reply);
    appTable.entries[1]->settings.output.directory = "D:\\out";
    EXPECT_EQ("ok 2\nD:\\out\\beta.log\nbeta\n", Request("output beta\n").reply);
    EXPECT_EQ("failed 1\nApplication does not exist.\n", Request("output gamma\n").reply);
    EXPECT_EQ(logged, test::LogMessages().size()); // nothing is logged
}

TEST_F(ControlServerTest, StatusFollowsExitsAndWritesNothingToTheLog) {
    // alpha ends with code 3 and is started again.
    const std::uint32_t first = fake::PidOf(appTable.entries[0]->process.Get());
    fake::FindProcess(first)->exitValue = 3;
    fake::EndProcess(first);
    OnAppExit(&waitTable, 1, appTable.entries[0]);
    fake::Get().nowMs += 5000;

    const std::size_t before = test::LogMessages().size();
    const std::string reply = Request("status\n").reply;
    EXPECT_EQ(before, test::LogMessages().size());
    ASSERT_EQ(0u, reply.find("ok 2\n"));
    std::vector<AppStatus> apps(2);
    const std::size_t second = reply.find('\n', 5) + 1;
    ASSERT_TRUE(DecodeStatusRecord(reply.substr(5, second - 6), &apps[0]));
    ASSERT_TRUE(DecodeStatusRecord(reply.substr(second, reply.size() - second - 1), &apps[1]));
    EXPECT_EQ("alpha", apps[0].name);
    EXPECT_EQ(fake::PidOf(appTable.entries[0]->process.Get()), apps[0].processId);
    EXPECT_NE(first, apps[0].processId);
    EXPECT_EQ(1u, apps[0].restarts);
    EXPECT_EQ(LastExit::Kind::Code, apps[0].lastExit.kind);
    EXPECT_EQ(3u, apps[0].lastExit.value);
    EXPECT_EQ(5u, apps[0].upSeconds);
    EXPECT_EQ("beta", apps[1].name);
    EXPECT_EQ(0u, apps[1].restarts);
    EXPECT_EQ(LastExit::Kind::None, apps[1].lastExit.kind);
}

TEST_F(ControlServerTest, AnAttachedCopyCountsItsUptimeFromItsOwnStart) {
    const std::string path = "C:\\apps\\gamma.exe";
    fake::AddFile(path, path);
    fake::AddProcess(4242, 1, path).ageMs = 90500;
    test::Add(test::App("gamma", path));
    const std::string reply = Request("status\n").reply;
    const std::string last = reply.substr(reply.rfind('\n', reply.size() - 2) + 1);
    AppStatus status;
    ASSERT_TRUE(DecodeStatusRecord(last.substr(0, last.size() - 1), &status)) << reply;
    EXPECT_EQ(4242u, status.processId);
    EXPECT_EQ(90u, status.upSeconds);
}

TEST_F(ControlServerTest, RefusalsAndDroppedClients) {
    fake::ControlClient stranger;
    stranger.request = "send stopall\n";
    stranger.sameUser = false;
    stranger.userId = 1001;
    const fake::ControlClient refused = Serve(stranger);
    EXPECT_EQ(0u, refused.reply.find("error: "));
    EXPECT_EQ("Refused a command from user 1001.", test::LastMessage());
    EXPECT_TRUE(IsUp(*appTable.entries[0]));

    const fake::ControlClient tooLong = Request("send " + std::string(300, 'x') + "\n");
    EXPECT_EQ("error: refused: a request holds at most 255 bytes\n", tooLong.reply);
    EXPECT_EQ("error: unknown request\n", Request("stop 1\n").reply);
    EXPECT_EQ("error: the command line is empty\n", Request("send \n").reply);
    const std::size_t logged = test::LogMessages().size();
    EXPECT_EQ("error: the command line holds a NUL byte\n",
              Request(std::string("send \0stop 0\n", 13)).reply);
    EXPECT_EQ(logged, test::LogMessages().size()) << "nothing logged, nothing run";
    EXPECT_TRUE(IsUp(*appTable.entries[0]));
}

TEST_F(ControlServerTest, SilentClientsHoldNothingAndAreDroppedAtTheirLimit) {
    // Four silent clients are taken and left waiting; a fifth waits in the
    // backlog, since the endpoint's row leaves the table while all are taken.
    fake::ControlClient silent;
    silent.closesAfterSending = false;
    for (int i = 0; i < kMaxControlClients + 1; ++i)
        fake::Control().waiting.push_back(silent);
    fake::Control().waiting.back().request = "status\n";
    fake::Get().onWait = [](int wait) {
        if (wait == 2) {
            EXPECT_EQ(1u, fake::Control().waiting.size());
        }
        if (wait == 4)
            RunningFlag = false;
    };
    RunEventLoop();
    // Pass 1 takes four, each first read given its moment; pass 2 waits out
    // what is left of the first one's time after the pause and drops it;
    // pass 3 finds the other three past their time, drops them, takes and
    // answers the fifth; pass 4 waits for its time. Nothing waited on a
    // client beyond those moments.
    const std::uint32_t left = kControlTimeLimitMs - kEventLoopPauseMs;
    const std::uint32_t moments = kMaxControlClients * kFirstRequestWaitMs;
    EXPECT_EQ((std::vector<std::uint32_t>{port::kWaitForever, left - moments, 0, left}),
              fake::Get().waitLimits);
    const auto& served = fake::Control().served;
    ASSERT_EQ(static_cast<std::size_t>(kMaxControlClients + 1), served.size());
    for (int i = 0; i < kMaxControlClients; ++i) {
        EXPECT_TRUE(served[i].closed);
        EXPECT_EQ("", served[i].reply);
    }
    EXPECT_EQ(0u, served.back().reply.find("ok 2\n"));
    EXPECT_TRUE(served.back().outputEnded);
}

// Sent stops and restarts answer once they are done, with what was logged
// about their own applications only.
class AwaitedAnswerTest : public ControlServerTest {
  protected:
    void SetUp() override {
        test::ResetManager();
        SetStateChangeHook(
            [](AppEntry& entry, AppState before, void*) { ContinueOrder(entry, before); });
        SetSettledHook(AnswerAwaitingClients);
    }
    // Politely stopped applications, each starting after the one before it.
    static void Apps(const std::vector<std::string>& names) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string path = "C:\\apps\\" + names[i] + ".exe";
            fake::AddFile(path, path);
            AppSettings settings = test::App(names[i], path);
            settings.stopTimeoutSeconds = 5;
            if (i > 0)
                settings.readiness.after = {names[i - 1]};
            const std::uint32_t pid = fake::PidOf(test::Add(settings).process.Get());
            fake::FindProcess(pid)->endsWhenAsked = false; // until the test ends it
        }
        ResolveApplicationOrder();
        OpenControlChannel(ReloadConfiguration);
    }
    static std::uint32_t Pid(int n) { return fake::PidOf(appTable.entries[n]->process.Get()); }
    // The reply of the n-th client served, once it is complete.
    static bool Answered(std::size_t n) {
        const std::string& reply = fake::Control().served.at(n).reply;
        return reply.find("ok ") != std::string::npos || reply.find("failed ") != std::string::npos;
    }
    static std::string Reply(std::size_t n) {
        const std::string& reply = fake::Control().served.at(n).reply;
        return reply.substr(reply.find('\n') + 1); // after the wait notice
    }
};

TEST_F(AwaitedAnswerTest, AnOrderedRestartallStopsInReverseStartsInOrderAndNamesWhatFailed) {
    Apps({"db", "web"});
    const std::uint32_t db = Pid(0);
    const std::uint32_t web = Pid(1);
    Request("send restartall\n");
    test::RunLoop([&](int wait) {
        if (wait == 1)
            fake::EndProcess(web);
        if (wait == 2) {
            EXPECT_EQ(AppState::Stopping, appTable.entries[0]->state);
            EXPECT_EQ(AppState::Stopped, appTable.entries[1]->state) << "web waits for db";
            fake::EndProcess(db);
        }
        return wait < 4;
    });
    ASSERT_TRUE(Answered(0));
    const Lines log = test::LogMessages();
    const auto at = [&](const std::string& line) {
        return std::find(log.begin(), log.end(), line) - log.begin();
    };
    EXPECT_LT(at("web stopped."), at("Terminating process db."));
    EXPECT_LT(at("Starting process db."), at("Starting process web."));
    EXPECT_EQ(0u, fake::Control().served[0].reply.find("wait "));
    EXPECT_EQ(0u, Reply(0).find("ok ")) << Reply(0);
    EXPECT_NE(db, Pid(0));
    EXPECT_NE(web, Pid(1));

    // db cannot start again: web, which waits for it, cannot either.
    fake::Get().launchError = 2;
    fake::FindProcess(Pid(0))->endsWhenAsked = false;
    fake::FindProcess(Pid(1))->endsWhenAsked = false;
    Request("send restartall\n");
    const int before = fake::Get().waits;
    test::RunLoop([&](int wait) {
        if (wait == before + 1)
            fake::EndProcess(Pid(1));
        if (wait == before + 2)
            fake::EndProcess(Pid(0));
        return wait < before + 4;
    });
    ASSERT_TRUE(Answered(1)) << fake::Control().served[1].reply;
    const std::string failed = Reply(1);
    EXPECT_EQ(0u, failed.find("failed ")) << failed;
    EXPECT_NE(std::string::npos, failed.find("\ndb did not start again (failed).\n")) << failed;
    EXPECT_NE(std::string::npos, failed.find("\nweb did not start again (waiting).\n")) << failed;
    EXPECT_EQ("failed", CollectStatus()[0].state);
}

// "stop web" while an ordered restartall waits for db's stop: web stays
// stopped when db starts again.
TEST_F(AwaitedAnswerTest, AnApplicationStoppedDuringAnOrderedRestartStaysStopped) {
    Apps({"db", "web"});
    const std::uint32_t db = Pid(0);
    Request("send restartall\n");
    test::RunLoop([&](int wait) {
        if (wait == 1)
            test::Typed("stop web");
        if (wait == 2)
            fake::EndProcess(db);
        return wait < 4;
    });
    EXPECT_EQ(AppState::Running, appTable.entries[0]->state);
    EXPECT_NE(db, Pid(0));
    EXPECT_EQ(AppState::Stopped, appTable.entries[1]->state);
}

} // namespace
