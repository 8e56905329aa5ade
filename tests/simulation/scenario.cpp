#include "scenario.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace sim {
namespace {

// Names that meet: case twins, one listed twice, two whose output files
// would be one, and plain ones.
constexpr std::array<const char*, 10> kNames = {"web", "Web", "db",     "x y",   "x_y",
                                                "dup", "dup", "worker", "cache", "q"};

struct Draw {
    std::mt19937_64 random;

    std::uint32_t Below(std::uint32_t n) {
        return n == 0 ? 0 : static_cast<std::uint32_t>(random() % n);
    }
    bool Chance(int percent) { return Below(100) < static_cast<std::uint32_t>(percent); }
    template <typename T, std::size_t N> T Pick(const std::array<T, N>& values) {
        return values[Below(N)];
    }
};

std::string Name(Draw& d) {
    return d.Pick(kNames);
}

AppSpec DrawApp(Draw& d) {
    AppSpec app;
    app.name = Name(d);
    // Now and then a program that is not there.
    app.program = d.Chance(4) ? kMissingProgram : static_cast<int>(d.Below(kPrograms));
    app.parameters = d.Pick(std::array<const char*, 4>{"", "", "-a", "-b 1"});
    if (d.Chance(20))
        app.stopTimeout = d.Pick(std::array<int, 3>{0, 2, 5});
    if (d.Chance(10))
        app.stopSignal = d.Pick(std::array<const char*, 3>{"INT", "QUIT main", "PIPE"});
    if (d.Chance(25)) {
        app.after = Name(d);
        if (d.Chance(30))
            app.after += " " + Name(d);
    }
    if (d.Chance(35))
        app.ready = d.Pick(std::array<const char*, 7>{"port 8101", "port 8102", "delay 0.5",
                                                      "delay 2", "notify", "output ok",
                                                      "http://127.0.0.1:8102/ready"});
    if (d.Chance(20))
        app.readyTimeout = d.Pick(std::array<int, 3>{0, 1, 5});
    if (d.Chance(25))
        app.health = d.Pick(std::array<const char*, 4>{"port 8101 every 2", "port 8103 every 1",
                                                       "command \"check\" every 3",
                                                       "http://localhost:8103/health every 1"});
    if (d.Chance(12))
        app.maxMemory = d.Pick(std::array<const char*, 3>{"30M", "1G", "lots"});
    if (d.Chance(15))
        app.healthFailures = d.Pick(std::array<int, 2>{1, 2});
    if (d.Chance(8))
        app.user = d.Pick(std::array<const char*, 2>{"nobody", "nosuch"});
    if (d.Chance(10))
        app.environment = "A=1";
    return app;
}

void DrawGeneral(Draw& d, Config* config) {
    config->containProcesses = d.Chance(40);
    config->attachByCommandLine = d.Chance(40);
    config->outputDirectory = d.Chance(40);
    config->extraCommands = d.Chance(70);
    config->endLeftovers = d.Chance(30);
    config->reportExits = d.Chance(50);
    config->stopTimeout = d.Pick(std::array<int, 4>{0, 0, 2, 5});
    config->restartDelay = d.Pick(std::array<int, 4>{0, 0, 1, 2});
    config->minUptime = d.Pick(std::array<int, 3>{0, 2, 10});
    config->giveUpAfter = d.Pick(std::array<int, 3>{0, 0, 3});
    config->retryFailedStarts = d.Pick(std::array<int, 4>{0, 0, 1, 3});
}

Config DrawConfig(Draw& d) {
    Config config;
    DrawGeneral(d, &config);
    const std::uint32_t count = 1 + d.Below(7);
    for (std::uint32_t i = 0; i < count; ++i)
        config.apps.push_back(DrawApp(d));
    return config;
}

// The next file an operator writes: the last one with a few edits.
Config Edit(Draw& d, Config config) {
    config.typo = Typo::None;
    const std::uint32_t edits = 1 + d.Below(3);
    for (std::uint32_t i = 0; i < edits; ++i) {
        auto& apps = config.apps;
        switch (d.Below(9)) {
        case 0: // added
            apps.insert(apps.begin() + d.Below(static_cast<std::uint32_t>(apps.size()) + 1),
                        DrawApp(d));
            break;
        case 1: // removed
            if (!apps.empty())
                apps.erase(apps.begin() + d.Below(static_cast<std::uint32_t>(apps.size())));
            break;
        case 2: // renamed
            if (!apps.empty())
                apps[d.Below(static_cast<std::uint32_t>(apps.size()))].name = Name(d);
            break;
        case 3: // moved
            if (apps.size() > 1)
                std::swap(apps[d.Below(static_cast<std::uint32_t>(apps.size()))], apps.back());
            break;
        case 4: // another program or other parameters
            if (!apps.empty()) {
                AppSpec& app = apps[d.Below(static_cast<std::uint32_t>(apps.size()))];
                if (d.Chance(50))
                    app.program =
                        d.Chance(15) ? kMissingProgram : static_cast<int>(d.Below(kPrograms));
                else
                    app.parameters = app.parameters.empty() ? "-c" : "";
            }
            break;
        case 5: // its extras drawn anew
            if (!apps.empty()) {
                AppSpec& app = apps[d.Below(static_cast<std::uint32_t>(apps.size()))];
                const AppSpec fresh = DrawApp(d);
                app.after = fresh.after;
                app.ready = fresh.ready;
                app.health = fresh.health;
                app.maxMemory = fresh.maxMemory;
                app.stopTimeout = fresh.stopTimeout;
            }
            break;
        case 6: // the [General] keys drawn anew
            DrawGeneral(d, &config);
            break;
        case 7: // a typo the reload must refuse
            config.typo = static_cast<Typo>(1 + d.Below(3));
            break;
        default: // saved unchanged
            break;
        }
    }
    return config;
}

std::string Target(Draw& d) {
    if (d.Chance(60))
        return std::to_string(d.Below(16));
    std::string name = Name(d);
    if (d.Chance(20))
        for (char& c : name)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    // A name with a blank reaches the command as its first word only.
    return name;
}

std::string CommandLine(Draw& d) {
    switch (d.Below(12)) {
    case 0:
    case 1:
        return "start " + Target(d);
    case 2:
    case 3:
        return "stop " + Target(d);
    case 4:
    case 5:
        return "restart " + Target(d);
    case 6:
        return "startall";
    case 7:
        return "stopall";
    case 8:
        return "restartall";
    case 9:
        return "signal " + Target(d) + " TERM";
    case 10:
        return "tail " + Target(d) + " 2";
    default:
        return "list";
    }
}

Op DrawOp(Draw& d, Config* config) {
    static constexpr std::array<std::pair<OpKind, int>, 20> kWeights = {{
        {OpKind::Command, 18},  {OpKind::Send, 5},        {OpKind::Reload, 6},
        {OpKind::Exit, 12},     {OpKind::ChildExit, 3},   {OpKind::SpawnChildren, 5},
        {OpKind::Advance, 15},  {OpKind::Listen, 4},      {OpKind::CheckOutcome, 3},
        {OpKind::Notify, 3},    {OpKind::ReadyLine, 2},   {OpKind::CaptureDies, 2},
        {OpKind::Restart, 2},   {OpKind::Retitle, 2},     {OpKind::Stubborn, 2},
        {OpKind::Bystander, 2}, {OpKind::HandStarted, 3}, {OpKind::Tamper, 2},
        {OpKind::Status, 3},    {OpKind::Memory, 3},
    }};
    int total = 0;
    for (const auto& [kind, weight] : kWeights)
        total += weight;
    int roll = static_cast<int>(d.Below(static_cast<std::uint32_t>(total)));
    Op op;
    for (const auto& [kind, weight] : kWeights) {
        if (roll < weight) {
            op.kind = kind;
            break;
        }
        roll -= weight;
    }
    op.a = d.Below(16);
    op.b = d.Below(16);
    switch (op.kind) {
    case OpKind::Command:
    case OpKind::Send:
        op.text = CommandLine(d);
        break;
    case OpKind::Reload:
        *config = Edit(d, *config);
        op.config = *config;
        op.a = d.Below(2); // the reload command, or the call itself
        break;
    case OpKind::Exit:
        op.a = d.Chance(70) ? 0 : d.Below(4);
        break;
    case OpKind::SpawnChildren:
        op.a = 1 + d.Below(3);
        op.b = d.Below(16);
        break;
    case OpKind::Advance:
        op.a = d.Pick(std::array<std::uint32_t, 7>{50, 100, 300, 1000, 2500, 6000, 65000});
        break;
    case OpKind::Listen:
        op.a = 1 + d.Below(3);
        break;
    case OpKind::Restart:
        op.a = d.Below(3);
        break;
    case OpKind::HandStarted:
        op.a = d.Below(kPrograms);
        break;
    default:
        break;
    }
    return op;
}

} // namespace

std::string ProgramPath(int program) {
    return "C:\\apps\\p" + std::to_string(program) + ".exe";
}

std::string ConfigText(const Config& c) {
    std::string text;
    if (c.typo == Typo::StrayLine)
        text += "garbage\n";
    text += "[General]\nLogFile = sim.log\n";
    auto key = [&text](const char* name, int value) {
        if (value != 0)
            text += std::string(name) + " = " + std::to_string(value) + "\n";
    };
    key("ContainProcesses", c.containProcesses);
    key("AttachByCommandLine", c.attachByCommandLine);
    key("ExtraCommands", c.extraCommands);
    key("EndLeftovers", c.endLeftovers);
    key("ReportExits", c.reportExits);
    key("StopTimeout", c.stopTimeout);
    key("RestartDelay", c.restartDelay);
    key("MinUptime", c.minUptime);
    key("GiveUpAfter", c.giveUpAfter);
    key("RetryFailedStarts", c.retryFailedStarts);
    if (c.outputDirectory)
        text += "OutputDirectory = out\n";
    text += c.typo == Typo::Malformed ? "[Applications\n" : "[Applications]\n";
    for (const AppSpec& app : c.apps)
        text += app.name + " = " + ProgramPath(app.program) + "\n";
    auto section = [&](const char* name, auto value) {
        std::string lines;
        for (const AppSpec& app : c.apps) {
            const std::string v = value(app);
            if (!v.empty())
                lines += app.name + " = " + v + "\n";
        }
        // The misspelt section is there even when it would be empty.
        if (!lines.empty() || (c.typo == Typo::UnknownSection && name[0] == 'P'))
            text += "[" + std::string(name) + "]\n" + lines;
    };
    auto number = [](int n) { return n < 0 ? std::string() : std::to_string(n); };
    section(c.typo == Typo::UnknownSection ? "Parametres" : "Parameters",
            [](const AppSpec& a) { return a.parameters; });
    section("StopTimeout", [&](const AppSpec& a) { return number(a.stopTimeout); });
    section("StopSignal", [](const AppSpec& a) { return a.stopSignal; });
    section("After", [](const AppSpec& a) { return a.after; });
    section("Ready", [](const AppSpec& a) { return a.ready; });
    section("ReadyTimeout", [&](const AppSpec& a) { return number(a.readyTimeout); });
    section("Health", [](const AppSpec& a) { return a.health; });
    section("HealthFailures", [&](const AppSpec& a) { return number(a.healthFailures); });
    section("MaxMemory", [](const AppSpec& a) { return a.maxMemory; });
    section("User", [](const AppSpec& a) { return a.user; });
    section("Environment", [](const AppSpec& a) { return a.environment; });
    return text;
}

Scenario DrawScenario(std::uint64_t seed, int steps) {
    Draw d{std::mt19937_64(seed)};
    Scenario scenario;
    scenario.seed = seed;
    scenario.initial = DrawConfig(d);
    Config config = scenario.initial;
    for (int i = 0; i < steps; ++i)
        scenario.ops.push_back(DrawOp(d, &config));
    return scenario;
}

std::string Describe(const Op& op) {
    char line[160];
    switch (op.kind) {
    case OpKind::Command:
        return "type \"" + op.text + "\"";
    case OpKind::Send:
        return "--send \"" + op.text + "\"";
    case OpKind::Reload: {
        static const char* const kHow[] = {"the reload command", "a reload"};
        std::string names;
        for (const AppSpec& app : op.config.apps)
            names += (names.empty() ? "" : ", ") + app.name + "=p" + std::to_string(app.program);
        return std::string(kHow[op.a % 2]) + " of a file naming " + names +
               (op.config.typo == Typo::UnknownSection ? " (with [Parametres])"
                : op.config.typo == Typo::StrayLine    ? " (with a stray line)"
                : op.config.typo == Typo::Malformed    ? " (with [Applications without ])"
                                                       : "");
    }
    case OpKind::Exit:
        std::snprintf(line, sizeof line,
                      "the process of the %u-th running application ends (%s %u)", op.b,
                      op.a % 2 ? "signal" : "code", op.a);
        return line;
    case OpKind::ChildExit:
        std::snprintf(line, sizeof line, "a child in the tree of the %u-th application ends", op.b);
        return line;
    case OpKind::SpawnChildren:
        std::snprintf(line, sizeof line, "the %u-th application starts %u children", op.b, op.a);
        return line;
    case OpKind::Advance:
        std::snprintf(line, sizeof line, "%u ms pass", op.a);
        return line;
    case OpKind::Listen:
        std::snprintf(line, sizeof line, "port %u %s, HTTP answer %s", 8100 + op.a,
                      op.b % 2 ? "takes connections" : "refuses connections",
                      op.b / 2 % 3 == 0   ? "200"
                      : op.b / 2 % 3 == 1 ? "500"
                                          : "none");
        return line;
    case OpKind::Memory:
        std::snprintf(line, sizeof line, "the %u-th application uses %u MiB", op.b, op.a * 8);
        return line;
    case OpKind::CheckOutcome:
        std::snprintf(line, sizeof line, "health commands exit with %u%s", op.a,
                      op.b % 2 ? " and hang" : "");
        return line;
    case OpKind::Notify:
        std::snprintf(line, sizeof line, "READY=1 from application %u", op.a);
        return line;
    case OpKind::ReadyLine:
        std::snprintf(line, sizeof line, "the ready line of application %u", op.a);
        return line;
    case OpKind::CaptureDies:
        std::snprintf(line, sizeof line, "capture process %u is killed", op.a);
        return line;
    case OpKind::Restart: {
        static const char* const kHow[] = {"quits", "crashes", "is asked to end"};
        return std::string("the manager ") + kHow[op.a % 3] + " and starts again" +
               (op.b % 2 ? " headless" : "");
    }
    case OpKind::Retitle:
        std::snprintf(line, sizeof line, "application %u rewrites its command line", op.a);
        return line;
    case OpKind::Stubborn:
        std::snprintf(line, sizeof line, "application %u ignores requests to end", op.a);
        return line;
    case OpKind::Bystander:
        return std::string("a bystander starts") + (op.b % 2 ? " in a foreign container" : "");
    case OpKind::HandStarted:
        std::snprintf(line, sizeof line, "a copy of p%u is started by hand", op.a);
        return line;
    case OpKind::Tamper:
        std::snprintf(line, sizeof line, "the start record is rewritten for application %u (%u)",
                      op.a, op.b % 5);
        return line;
    case OpKind::Status:
        return "--status";
    }
    return "?";
}

} // namespace sim
