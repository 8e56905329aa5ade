#include "world.h"

#include "app/reload.h"
#include "app/startup.h"
#include "common/text.h"
#include "console/command_table.h"
#include "control/control_protocol.h"
#include "control/control_server.h"
#include "fake_control.h"
#include "fake_port.h"
#include "invariants.h"
#include "loop/event_loop.h"
#include "model.h"
#include "port/identity.h"
#include "port/process.h"
#include "reset_for_testing.h"
#include "supervisor/app_order.h"
#include "supervisor/app_table.h"
#include "supervisor/start_record.h"
#include "world_state.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace sim {
namespace {

World* current = nullptr;

void WriteConfig(const Config& config) {
    std::ofstream("zelkappmgr.ini", std::ios::binary | std::ios::trunc) << ConfigText(config);
}

// The applications that have a process, in table order.
std::vector<AppEntry*> WithProcess() {
    std::vector<AppEntry*> entries;
    for (int i = 0; i < appTable.count; ++i)
        if (appTable.entries[i]->process)
            entries.push_back(appTable.entries[i]);
    return entries;
}

AppEntry* Nth(const std::vector<AppEntry*>& entries, std::uint32_t n) {
    return entries.empty() ? nullptr : entries[n % entries.size()];
}

std::uint32_t PidOf(const AppEntry& entry) {
    return fake::PidOf(entry.process.Get());
}

// The number a command's word names, as the manager reads it; -1 for none.
int NumberOf(const std::string& word) {
    if (word.empty())
        return -1;
    if (word[0] >= '0' && word[0] <= '9') {
        const int number = ParseLeadingInt(word.c_str());
        return number < appTable.count && !IsRemoved(appTable.entries[number]->state) ? number : -1;
    }
    const AppEntry* entry = FindApplication(word);
    for (int i = 0; i < appTable.count; ++i)
        if (appTable.entries[i] == entry)
            return i;
    return -1;
}

std::uint32_t NewProcess(const std::string& image, std::uint32_t parent) {
    fake::State& s = fake::Get();
    const std::uint32_t pid = s.nextPid++;
    fake::Process& p = fake::AddProcess(pid, parent, image);
    p.sessionId = pid;
    p.groupId = pid;
    return pid;
}

void Launched(fake::Process& p) {
    // Every program the manager starts leads a session and a group of its own.
    if (p.sessionId == 0)
        p.sessionId = p.groupId = p.pid;
}

void EndProcess(std::uint32_t pid, std::uint32_t how) {
    fake::Process* p = fake::FindProcess(pid);
    if (p == nullptr || !p->alive)
        return;
    p->endedBySignal = how % 2 == 1;
    p->exitValue = how;
    if (p->container.empty())
        fake::EndProcess(pid);
    else
        fake::EndContainedProcess(pid);
}

void SendRequest(const std::string& request) {
    fake::ControlClient client;
    client.request = request;
    client.tag = current->reloads;
    fake::Control().waiting.push_back(client);
}

// The entries a sent "stop N", "restart N", "stopall" or "restartall"
// names, as the command reads N; empty for any other line.
std::vector<const AppEntry*> NamedBy(const std::string& verb, const std::string& target) {
    std::vector<const AppEntry*> named;
    if (verb == "stopall" || verb == "restartall") {
        for (int i = 0; i < appTable.count; ++i)
            if (!IsRemoved(appTable.entries[i]->state))
                named.push_back(appTable.entries[i]);
    } else if ((verb == "stop" || verb == "restart") && !target.empty()) {
        const AppEntry* entry = nullptr;
        if (target[0] >= '0' && target[0] <= '9') {
            const int n = ParseLeadingInt(target.c_str());
            if (n < appTable.count && !IsRemoved(appTable.entries[n]->state))
                entry = appTable.entries[n];
        } else {
            entry = FindApplication(target);
        }
        if (entry != nullptr)
            named.push_back(entry);
    }
    return named;
}

// What a client was told when its reply is whole: only lines of its own
// request, and an "ok" to a stop or restart only once that is done.
void CheckAnswer(const fake::ControlClient& client) {
    World& w = *current;
    const std::string requestLine = client.request.substr(0, client.request.find('\n'));
    const ControlRequest request = DecodeRequest(requestLine);
    ControlReply reply;
    if (request.kind != ControlRequest::Kind::Send ||
        DecodeReply(client.reply, &reply) != ReplyState::Complete || !reply.ok ||
        !w.answerBroken.empty())
        return;
    for (const std::string& line : reply.lines)
        if (line.rfind("Command from outside", 0) == 0)
            w.answerBroken = "\"" + request.line + "\" was answered with " + line;
    if (reply.failed || client.tag != w.reloads)
        return;
    const std::size_t blank = request.line.find(' ');
    const std::string verb = request.line.substr(0, blank);
    const std::string target = blank == std::string::npos ? "" : request.line.substr(blank + 1);
    const bool restart = verb.rfind("restart", 0) == 0;
    for (const AppEntry* entry : NamedBy(verb, target)) {
        const bool done = restart ? entry->state == AppState::Running
                                  : !IsStopping(entry->state) && !InOrderedOperation(*entry);
        if (!done && w.answerBroken.empty())
            w.answerBroken = "\"" + request.line + "\" was answered ok while " +
                             entry->settings.name + " is " + StateWord(entry->state);
    }
}

// The operator's stops, as the model follows them through a command line.
void NoteCommand(World& w, const std::string& line, bool sent) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < line.size()) {
        const std::size_t end = std::min(line.find(' ', start), line.size());
        words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    const std::string verb = words.empty() ? "" : words[0];
    const int number = words.size() > 1 ? NumberOf(words[1]) : -1;
    auto stop = [&](int n) {
        const AppEntry& entry = *appTable.entries[n];
        if (IsRemoved(entry.state) || entry.state == AppState::GaveUp)
            return;
        // A line sent from outside runs later in the pass: the process it
        // leaves is known at the next check.
        w.stopped[n] = sent ? kPidUnknown : (entry.process ? PidOf(entry) : 0);
    };
    if (verb == "stop" && number >= 0)
        stop(number);
    else if (verb == "stopall")
        for (int n = 0; n < appTable.count; ++n)
            stop(n);
    else if ((verb == "start" || verb == "restart") && number >= 0)
        w.stopped.erase(number);
    else if (verb == "startall" || verb == "restartall")
        w.stopped.clear();
}

void ApplyReload(World& w, const Op& op) {
    std::vector<bool> empty;
    for (int i = 0; i < appTable.count; ++i)
        empty.push_back(appTable.entries[i]->state == AppState::Removed &&
                        !appTable.entries[i]->process);
    const std::vector<Slot> before = w.table;
    if (!ReloadRefused(w.table, op.config, empty)) {
        w.table = ReloadedTable(w.table, op.config, empty);
        w.sharedCopies = w.sharedCopies || !op.config.attachByCommandLine;
    }
    // What the reload put at a number anew, or removed, is no operator's stop.
    for (std::size_t n = 0; n < w.table.size(); ++n)
        if (n >= before.size() || w.table[n].removed || before[n].removed ||
            w.table[n].name != before[n].name)
            w.stopped.erase(static_cast<int>(n));
    WriteConfig(op.config);
    w.file = op.config;
    if (op.a % 2 == 0 && w.extraCommands)
        ExecuteLine("reload");
    else
        ReloadConfiguration();
}

// A hostile rewrite of the record between two managers: the application's
// row names a bystander, or a bystander's container, or is garbage; or the
// record is no regular file, or far too large.
void ApplyTamper(World& w) {
    fake::State& s = fake::Get();
    if (w.tamper.empty() || !s.hasStartRecord)
        return;
    std::vector<RecordedProcess> rows = ParseStartRecord(s.startRecord);
    for (const Op& op : w.tamper) {
        if (op.b % 5 == 3) {
            s.startRecordIsNoFile = true;
            continue;
        }
        if (op.b % 5 == 4) {
            rows.resize(4000, RecordedProcess{1, 1, "", 0, std::string(20, 'x')});
            continue;
        }
        if (rows.empty())
            break;
        RecordedProcess& row = rows[op.a % rows.size()];
        const bool contained = op.b % 5 == 1;
        const std::uint32_t pid = NewProcess(kBystanderPath, 0);
        w.bystanders.push_back(pid);
        if (contained) {
            fake::FindProcess(pid)->container = kForeignContainer;
            auto& containers = fake::Get().containers;
            if (std::find(containers.begin(), containers.end(), kForeignContainer) ==
                containers.end())
                containers.push_back(kForeignContainer);
        }
        row.processId = pid;
        port::ProcessStartTime(pid, &row.startTime);
        row.container = contained ? kForeignContainer : "";
        if (op.b % 5 == 2)
            row.name += "\t\x01";
    }
    fake::Get().startRecord = FormatStartRecord(rows);
    w.tamper.clear();
}

void Apply(World& w, const Op& op) {
    fake::State& s = fake::Get();
    const std::vector<AppEntry*> running = WithProcess();
    switch (op.kind) {
    case OpKind::Command:
        NoteCommand(w, op.text, false);
        ExecuteLine(op.text.c_str());
        break;
    case OpKind::Send:
        NoteCommand(w, op.text, true);
        SendRequest(EncodeSendRequest(op.text));
        break;
    case OpKind::Reload:
        ++w.reloads;
        ApplyReload(w, op);
        break;
    case OpKind::Exit:
        if (AppEntry* entry = Nth(running, op.b))
            EndProcess(PidOf(*entry), op.a);
        break;
    case OpKind::ChildExit: {
        std::vector<std::uint32_t> alive;
        for (std::uint32_t pid : w.children)
            if (const fake::Process* p = fake::FindProcess(pid); p != nullptr && p->alive)
                alive.push_back(pid);
        if (!alive.empty())
            EndProcess(alive[op.b % alive.size()], 0);
        break;
    }
    case OpKind::SpawnChildren:
        if (AppEntry* entry = Nth(running, op.b)) {
            fake::Process* parent = fake::FindProcess(PidOf(*entry));
            if (parent == nullptr || !parent->alive)
                break;
            Launched(*parent);
            const fake::Process copy = *parent;
            for (std::uint32_t i = 0; i < op.a; ++i) {
                const std::uint32_t pid = NewProcess(copy.image, copy.pid);
                fake::Process& child = *fake::FindProcess(pid);
                child.sessionId = copy.sessionId;
                child.groupId = copy.groupId;
                child.container = copy.container;
                child.userId = copy.userId;
                w.children.push_back(pid);
            }
        }
        break;
    case OpKind::Advance:
        s.nowMs += op.a;
        break;
    case OpKind::Listen: {
        const auto port = static_cast<std::uint16_t>(8100 + op.a);
        auto& listening = s.listening;
        listening.erase(std::remove(listening.begin(), listening.end(), port), listening.end());
        if (op.b % 2 == 1)
            listening.push_back(port);
        s.answers.erase(port);
        if (op.b / 2 % 3 != 2)
            s.answers[port] =
                op.b / 2 % 3 == 0 ? "HTTP/1.1 200 OK\r\n\r\n" : "HTTP/1.1 500 Oops\r\n\r\n";
        break;
    }
    case OpKind::Memory:
        if (AppEntry* entry = Nth(running, op.b))
            s.processUsage[PidOf(*entry)] =
                port::Usage{true, 0, true, std::uint64_t{op.a} * (8u << 20)};
        break;
    case OpKind::CheckOutcome:
        s.commandExitCode = op.a % 2;
        s.commandsRunOn = op.b % 4 == 1;
        break;
    case OpKind::Notify: {
        const AppEntry* entry = Nth(running, op.a);
        s.notifications_in.emplace_back("READY=1\nSTATUS=up", entry ? PidOf(*entry) : 424242u);
        break;
    }
    case OpKind::ReadyLine:
        if (appTable.count > 0)
            SendRequest(EncodeReadyRequest(
                appTable.entries[op.a % static_cast<std::uint32_t>(appTable.count)]
                    ->settings.name));
        break;
    case OpKind::CaptureDies:
        if (!s.detachedPids.empty())
            EndProcess(s.detachedPids[op.a % s.detachedPids.size()], 9);
        break;
    case OpKind::Restart:
        w.headlessNext = op.b % 2 == 1;
        w.endAsked = true;
        w.restarting = true;
        if (op.a % 3 == 2 && w.headless) {
            s.shutdownRequested = true; // it stops everything, then ends
        } else if (op.a % 3 == 0) {
            w.ending = true;
            ExecuteLine("quit");
        } else {
            w.ending = true;
            RunningFlag = false;
        }
        break;
    case OpKind::Retitle:
        if (AppEntry* entry = Nth(running, op.a))
            if (fake::Process* p = fake::FindProcess(PidOf(*entry)))
                p->arguments = {"retitled"};
        break;
    case OpKind::Stubborn:
        if (AppEntry* entry = Nth(running, op.a))
            if (fake::Process* p = fake::FindProcess(PidOf(*entry)))
                p->endsWhenAsked = false;
        break;
    case OpKind::Bystander: {
        const std::uint32_t pid = NewProcess(kBystanderPath, 0);
        w.bystanders.push_back(pid);
        fake::FindProcess(pid)->userId = op.a % 2 ? 65534 : 0;
        if (op.b % 2 == 1) {
            fake::FindProcess(pid)->container = kForeignContainer;
            if (std::find(s.containers.begin(), s.containers.end(), kForeignContainer) ==
                s.containers.end())
                s.containers.push_back(kForeignContainer);
        }
        break;
    }
    case OpKind::HandStarted: {
        const std::uint32_t pid = NewProcess(ProgramPath(static_cast<int>(op.a)), 0);
        fake::Process& p = *fake::FindProcess(pid);
        static const std::vector<std::string> kArguments[] = {{}, {"-a"}, {"-b", "1"}};
        p.arguments = kArguments[op.b % 3];
        p.userId = op.b % 5 == 0 ? 65534 : 0;
        break;
    }
    case OpKind::Tamper:
        w.tamper.push_back(op);
        break;
    case OpKind::Status:
        SendRequest(EncodeStatusRequest());
        break;
    }
    for (fake::Process& p : s.processes)
        if (p.parentPid == 1 && p.alive && p.image.rfind("C:\\apps\\", 0) == 0)
            Launched(p);
}

void OnWait(int) {
    World& w = *current;
    if (w.ending || w.outcome.failed) {
        RunningFlag = false;
        return;
    }
    if (w.applied > 0) {
        ++w.outcome.checks;
        std::string detail;
        const char* broken = CheckInvariants(w, &detail);
        if (broken != nullptr) {
            w.outcome.failed = true;
            w.outcome.invariant = broken;
            w.outcome.detail = detail;
            w.outcome.step = w.applied;
            w.ending = true;
            RunningFlag = false;
            return;
        }
    }
    fake::ForgetReapedProcesses();
    if (w.next >= w.scenario.ops.size()) {
        w.ending = true;
        w.endAsked = true;
        RunningFlag = false;
        return;
    }
    const Op& op = w.scenario.ops[w.next++];
    ++w.applied;
    if (w.trace)
        std::fprintf(stderr, "--- %d. %s\n", w.applied, Describe(op).c_str());
    w.outcome.steps = w.applied;
    if (w.progress != nullptr)
        *w.progress = Progress{w.applied, w.outcome.checks};
    Apply(w, op);
}

void SetUpSystem() {
    fake::Reset(80, 25);
    ResetManagerForTesting();
    for (int program = 0; program < kPrograms; ++program)
        fake::AddFile(ProgramPath(program), ProgramPath(program));
    fake::AddFile(kBystanderPath, kBystanderPath);
    // The processes a launch makes end when asked, like most programs.
    fake::Get().onLaunch = nullptr;
}

} // namespace

Outcome Run(const Scenario& scenario, bool trace, Progress* progress) {
    World w{scenario};
    w.trace = trace;
    w.progress = progress;
    current = &w;
    SetUpSystem();
    WriteConfig(scenario.initial);
    w.file = scenario.initial;
    while (!w.outcome.failed && (w.next < scenario.ops.size() || w.restarting)) {
        w.restarting = false;
        w.table = StartUpTable(w.file);
        w.sharedCopies = !w.file.attachByCommandLine || w.file.typo == Typo::Malformed;
        w.stopped.clear();
        w.ending = false;
        w.endAsked = false;
        w.headless = w.headlessNext;
        w.extraCommands = w.file.extraCommands && w.file.typo != Typo::Malformed;
        fake::Get().onWait = OnWait;
        fake::Control().onOutputEnded = CheckAnswer;
        ManagerMain(w.headless);
        fake::Get().onWait = nullptr;
        if (!w.endAsked && !w.outcome.failed) {
            w.outcome.failed = true;
            w.outcome.invariant = "the manager ends only when asked to";
            w.outcome.step = w.applied;
        }
        // What the manager's state still holds is closed or let go, and
        // the system closes the rest as its process ends.
        ResetManagerForTesting();
        fake::EndManagerProcess();
        ApplyTamper(w);
    }
    current = nullptr;
    return w.outcome;
}

} // namespace sim
