#include "control/control_server.h"

#include "capture/output_directory.h"
#include "common/text.h"
#include "console/command_table.h"
#include "console/console.h"
#include "port/file.h"
#include "port/process.h"
#include "port/service_control.h"
#include "port/system.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/app_table.h"
#include "supervisor/containment.h"
#include "supervisor/health_check.h"
#include "supervisor/own_listener.h"
#include "supervisor/usage.h"

#include <algorithm>
#include <string>
#include <utility>

ControlServer controlServer;

namespace {

void OnClientRow(WaitTable* table, std::int32_t index, void* context);
void OnClientDeadline(void* context);
void OnWriteRetry(void* context);
void EndAwaiting(ControlClient& client);
void Serve(ControlClient& client);

void Listen() {
    if (controlServer.endpoint != port::kNullHandle && !controlServer.listening.Active())
        controlServer.listening.Add(controlServer.endpoint, OnControlRequest, nullptr);
}

// Closes the client's connection and frees its slot; what it registered
// ends with it.
void Drop(ControlClient& client) {
    StopCapturingLogEntries(&client.entries);
    client = ControlClient{};
    Listen(); // there is room again
}

// Replaces the client's deadline with one `ms` from now. False when no
// timer is left.
bool SetDeadline(ControlClient& client, std::uint32_t ms) {
    client.dueMs = port::NowMs() + ms;
    return client.deadline.Start(ms, OnClientDeadline, &client);
}

// Logs the command, runs it and replies with the entries it wrote.
// `run` returns whether it did what was asked.
template <typename Run> std::string RunCaptured(const std::string& line, Run run) {
    PrintMessage("Command from outside: %s", line.c_str());
    std::vector<std::string> entries;
    CaptureLogEntries(&entries);
    const bool done = run();
    StopCapturingLogEntries(&entries);
    for (std::string& entry : entries)
        entry = WithoutControlBytes(entry);
    return EncodeOkReply(entries, !done);
}

// The applications that the line just run asked to stop or to restart.
std::vector<AwaitedApp> AppsToAwait() {
    std::vector<AwaitedApp> awaited;
    for (const AskedOperation& asked : supervision.asked)
        for (int i = 0; i < appTable.count; ++i)
            if (appTable.entries[i]->serial == asked.serial)
                awaited.push_back(AwaitedApp{i, asked.serial, asked.restart});
    return awaited;
}

// The entry an awaited application was, or null when another took its number.
const AppEntry* EntryOf(const AwaitedApp& app) {
    const AppEntry* entry = appTable.entries[app.number];
    return entry->serial == app.serial ? entry : nullptr;
}

enum class Outcome { Pending, Done, NotBack };

// A stop is done once it has ended (or was never under way); a restart once
// the application runs again and is ready, and it did not come back when it
// stays down with nothing planned to start it. Looked at again until the
// answer goes: the answer tells the states as they are when it is made.
Outcome OutcomeOf(const AwaitedApp& app) {
    const AppEntry* entry = EntryOf(app);
    if (entry == nullptr)
        return app.restart ? Outcome::NotBack : Outcome::Done;
    if (IsStopping(entry->state) || InOrderedOperation(*entry))
        return Outcome::Pending;
    if (!app.restart || entry->state == AppState::Running)
        return Outcome::Done;
    if (entry->state == AppState::Starting ||
        (entry->state == AppState::Waiting && !WaitsInVain(*entry)))
        return Outcome::Pending;
    return Outcome::NotBack;
}

// The longest the awaited applications may take: their stop limits (one
// after another where a start order makes waves of them, else side by side),
// the readiness limits of what starts again, and a second.
std::uint32_t AwaitLimitMs(const std::vector<AwaitedApp>& awaited) {
    std::uint64_t stops = 0;
    std::uint64_t longest = 0;
    std::uint64_t starts = 0;
    for (const AwaitedApp& app : awaited) {
        const AppEntry* entry = EntryOf(app);
        if (entry == nullptr)
            continue;
        const std::uint32_t limit = entry->settings.stopTimeoutSeconds;
        stops += limit;
        longest = std::max<std::uint64_t>(longest, limit);
        const ReadinessSettings& readiness = entry->settings.readiness;
        if (app.restart && readiness.ready.kind != ReadyRule::Kind::Launched)
            starts += readiness.readyTimeoutSeconds > 0 ? readiness.readyTimeoutSeconds
                                                        : kUnlimitedReadyAwaitSeconds;
    }
    const std::uint64_t seconds = (AnyStartOrder() ? stops : longest) + starts + 1;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(seconds * 1000u, 0x7FFFFFFFu));
}

// The sent line is done: its reply holds what was logged since it came.
void FinishSentLine(ControlClient& client) {
    StopCapturingLogEntries(&client.entries);
    for (std::string& entry : client.entries)
        entry = WithoutControlBytes(entry);
    client.reply = EncodeOkReply(client.entries, client.failed);
    client.entries.clear();
    client.stage = ControlClient::Stage::Writing;
}

// Runs a sent line as if typed. A line that asked applications to stop or
// to restart answers once that is done: the stops have ended, what restarts
// runs again and is ready. Meanwhile the client hears how long that may
// take, is not looked at, and collects only what is logged about those
// applications.
void RunSentLine(ControlClient& client, const std::string& line) {
    if (line.empty()) {
        client.reply = EncodeErrorReply("the command line is empty");
        return;
    }
    // The line is logged and run as a C string: what follows a NUL would
    // run unseen.
    if (line.find('\0') != std::string::npos) {
        client.reply = EncodeErrorReply("the command line holds a NUL byte");
        return;
    }
    PrintMessage("Command from outside: %s", line.c_str());
    CaptureLogEntries(&client.entries);
    supervision.asked.clear();
    client.failed = !ExecuteLine(line.c_str());
    StopCapturingLogEntries(&client.entries);
    client.awaited = AppsToAwait();
    supervision.asked.clear();
    const bool pending = std::any_of(client.awaited.begin(), client.awaited.end(),
                                     [](auto& app) { return OutcomeOf(app) == Outcome::Pending; });
    if (!pending) {
        EndAwaiting(client);
        return;
    }
    // From now on only what is logged about the awaited applications is
    // the client's: other clients' lines are not.
    for (const AwaitedApp& app : client.awaited)
        client.subjects.push_back(app.serial);
    CaptureLogEntries(&client.entries, &client.subjects);
    const std::uint32_t limit = AwaitLimitMs(client.awaited);
    const std::string notice = EncodeWaitNotice(limit);
    std::uint32_t written = 0;
    port::WriteControl(client.connection.Get(), notice.data(),
                       static_cast<std::uint32_t>(notice.size()), 0, &written);
    client.row.Remove();
    SetDeadline(client, limit);
    client.stage = ControlClient::Stage::Awaiting;
}

// Adds a line for each awaited application that is not done, which fails
// the answer.
void NoteUnfinished(ControlClient& client) {
    for (const AwaitedApp& app : client.awaited) {
        const Outcome outcome = OutcomeOf(app);
        if (outcome == Outcome::Done)
            continue;
        client.failed = true;
        const AppEntry* entry = EntryOf(app);
        const std::string name = entry != nullptr ? entry->settings.name : "?";
        if (outcome == Outcome::Pending && !app.restart)
            client.entries.push_back(name + " is still stopping.");
        else if (outcome == Outcome::Pending)
            client.entries.push_back(name + " did not start again in time.");
        else
            client.entries.push_back(name + " did not start again (" +
                                     (entry != nullptr ? StateWord(entry->state) : "removed") +
                                     ").");
    }
    client.awaited.clear();
    client.subjects.clear();
}

// The awaited applications are done, or their time is up: the reply can go.
// Also called while the request is read, when nothing is left to await.
void EndAwaiting(ControlClient& client) {
    const bool awaiting = client.stage == ControlClient::Stage::Awaiting;
    StopCapturingLogEntries(&client.entries);
    NoteUnfinished(client);
    FinishSentLine(client);
    if (!awaiting)
        return;
    if (!SetDeadline(client, kControlTimeLimitMs) ||
        !client.row.Add(client.connection.Get(), OnClientRow, &client)) {
        Drop(client);
        return;
    }
    Serve(client);
}

std::string StatusReply() {
    std::vector<std::string> records;
    for (const AppStatus& status : CollectStatus())
        records.push_back(EncodeStatusRecord(status));
    return EncodeOkReply(records);
}

// The capture process of an application whose [Ready] rule is a line of its
// output saw the line. Logged by the ready message, if it makes it ready.
std::string MarkReady(const std::string& name) {
    AppEntry* entry = FindApplication(name);
    if (entry != nullptr && entry->state == AppState::Starting &&
        entry->settings.readiness.ready.kind == ReadyRule::Kind::Output)
        Dispatch(*entry, AppEvent::Ready);
    return EncodeOkReply({});
}

// Where the output of the application `name` (or number) is, for --tail;
// refused as the console's tail refuses.
std::string OutputReply(const std::string& name) {
    AppEntry* entry = nullptr;
    if (!name.empty() && name[0] >= '0' && name[0] <= '9') {
        const int index = ParseLeadingInt(name.c_str());
        if (index < appTable.count && !IsRemoved(appTable.entries[index]->state))
            entry = appTable.entries[index];
    } else {
        entry = FindApplication(name);
    }
    if (entry == nullptr)
        return EncodeOkReply({"Application does not exist."}, true);
    const AppSettings& settings = entry->settings;
    if (settings.output.directory.empty())
        return EncodeOkReply({"Output is not captured."}, true);
    const std::string path = OutputPath(settings.output, settings.name);
    port::PathInfo info{};
    if (port::ReadPathInfo(path.c_str(), false, &info) && !info.regularFile)
        return EncodeOkReply({"Output of " + settings.name + " is not a regular file."}, true);
    // A directory relative to the manager's is told whole, for a client
    // anywhere.
    const bool absolute = path[0] == '/' || path[0] == '\\' || (path.size() > 2 && path[1] == ':');
    std::string whole = path;
    if (!absolute) {
        whole = port::CurrentDirectory();
        if (!whole.empty() && whole.back() != '/' && whole.back() != port::kPathSeparator)
            whole += port::kPathSeparator;
        whole += path;
    }
    return EncodeOkReply({whole, settings.name});
}

// Answers the request: the reply is ready, or the client awaits stops.
void Answer(ControlClient& client, const std::string& requestLine) {
    const ControlRequest request = DecodeRequest(requestLine);
    client.stage = ControlClient::Stage::Writing;
    if (request.kind == ControlRequest::Kind::Send)
        RunSentLine(client, request.line);
    else if (request.kind == ControlRequest::Kind::Status)
        client.reply = StatusReply();
    // With or without the console command: reading the file again is what
    // --reload asks for.
    else if (request.kind == ControlRequest::Kind::Reload)
        client.reply = RunCaptured("reload", controlServer.reload);
    else if (request.kind == ControlRequest::Kind::Ready)
        client.reply = MarkReady(request.line);
    else if (request.kind == ControlRequest::Kind::Output)
        client.reply = OutputReply(request.line);
    else
        client.reply = EncodeErrorReply("unknown request");
}

// Reads what the client has sent. True once it is answered (its reply is
// ready, or it awaits stops); false while more of the request is to come,
// or when the client was dropped.
bool ReadRequest(ControlClient& client) {
    for (;;) {
        char buffer[256];
        std::uint32_t read = 0;
        // A client writes its request right after it connects: one accepted
        // a moment before that is given a moment more, rather than the
        // loop's whole pause.
        const std::uint32_t wait = client.fresh ? kFirstRequestWaitMs : 0;
        client.fresh = false;
        const bool ok =
            port::ReadControl(client.connection.Get(), buffer, sizeof buffer, wait, &read);
        if (!ok && port::LastError() == port::kErrorTimeout)
            return false; // the rest comes later
        const bool ended = ok && read == 0;
        if (!ok || (ended && client.received.empty())) {
            Drop(client);
            return false;
        }
        client.received.append(buffer, read);
        std::string line;
        switch (FindRequestLine(client.received, ended, &line)) {
        case RequestLine::Incomplete:
            continue;
        case RequestLine::TooLong:
            client.reply = EncodeErrorReply("refused: a request holds at most 255 bytes");
            client.stage = ControlClient::Stage::Writing;
            break;
        case RequestLine::Complete:
            Answer(client, line);
            break;
        }
        client.received.clear();
        return true;
    }
}

// Writes what of the reply the connection takes now. True once all of it is
// written; false while some waits for room, or when the client was dropped.
bool WriteReply(ControlClient& client) {
    std::uint32_t written = 0;
    const bool done =
        port::WriteControl(client.connection.Get(), client.reply.data(),
                           static_cast<std::uint32_t>(client.reply.size()), 0, &written);
    client.reply.erase(0, written);
    if (done) {
        port::EndControlOutput(client.connection.Get());
        client.stage = ControlClient::Stage::Closing;
        return true;
    }
    const bool timedOut = port::LastError() == port::kErrorTimeout;
    if (!timedOut || (!client.writeRetry.Pending() &&
                      !client.writeRetry.Start(kControlWriteRetryMs, OnWriteRetry, &client)))
        Drop(client);
    return false;
}

// The reply is out: what the client still sends is dropped until it closes
// its end (closing ours first could destroy the reply before it is read).
void AwaitClose(ControlClient& client) {
    for (;;) {
        char discard[256];
        std::uint32_t read = 0;
        const bool ok =
            port::ReadControl(client.connection.Get(), discard, sizeof discard, 0, &read);
        if (!ok && port::LastError() == port::kErrorTimeout)
            return;
        if (!ok || read == 0) {
            Drop(client);
            return;
        }
    }
}

// Moves the client on as far as it lets the manager go now.
void Serve(ControlClient& client) {
    if (client.stage == ControlClient::Stage::Reading && !ReadRequest(client))
        return;
    if (client.stage == ControlClient::Stage::Awaiting)
        return;
    if (client.stage == ControlClient::Stage::Writing && !WriteReply(client))
        return;
    AwaitClose(client);
}

void OnClientRow(WaitTable*, std::int32_t, void* context) {
    Serve(*static_cast<ControlClient*>(context));
}

void OnClientDeadline(void* context) {
    ControlClient& client = *static_cast<ControlClient*>(context);
    // Stops that outlast their limits: the answer says it failed.
    if (client.stage == ControlClient::Stage::Awaiting)
        EndAwaiting(client);
    else
        Drop(client);
}

void OnWriteRetry(void* context) {
    Serve(*static_cast<ControlClient*>(context));
}

std::uint32_t Left(std::uint64_t dueMs) {
    const std::uint64_t now = port::NowMs();
    return now >= dueMs ? 0 : static_cast<std::uint32_t>(dueMs - now);
}

} // namespace

void OpenControlChannel(ReloadFunction reload) {
    controlServer.reload = reload;
    controlServer.endpoint = port::OpenControlEndpoint(kControlName);
    if (controlServer.endpoint == port::kNullHandle) {
        PrintMessage("Could not open the control channel. Error: %d.",
                     static_cast<int>(port::LastError()));
        return;
    }
    Listen();
}

void OnControlRequest(WaitTable*, std::int32_t, void*) {
    for (ControlClient& client : controlServer.clients) {
        if (client.connection)
            continue;
        std::uint32_t userId = 0;
        bool sameUser = false;
        port::UniqueControl connection(
            port::AcceptControlClient(controlServer.endpoint, &userId, &sameUser));
        if (!connection)
            break; // nobody else waits
        if (!SetDeadline(client, kControlTimeLimitMs) ||
            !client.row.Add(connection.Get(), OnClientRow, &client)) {
            client = ControlClient{};
            break; // no room to watch it: it is closed at once
        }
        client.connection = std::move(connection);
        if (!sameUser) {
            PrintMessage("Refused a command from user %d.", static_cast<int>(userId));
            client.reply = EncodeErrorReply("refused: the manager runs for another user");
            client.stage = ControlClient::Stage::Writing;
        }
        client.fresh = true;
        Serve(client);
    }
    // Every slot taken: the rest wait in the backlog until a client is done.
    bool room = false;
    for (const ControlClient& client : controlServer.clients)
        room = room || !client.connection;
    if (!room)
        controlServer.listening.Remove();
}

void CloseControlChannel() {
    for (ControlClient& client : controlServer.clients) {
        if (!client.connection)
            continue;
        const port::Handle connection = client.connection.Get();
        // The manager ends before the stops it waits for: not done.
        if (client.stage == ControlClient::Stage::Awaiting) {
            StopCapturingLogEntries(&client.entries);
            NoteUnfinished(client);
            FinishSentLine(client);
        }
        if (client.stage == ControlClient::Stage::Writing) {
            std::uint32_t written = 0;
            if (port::WriteControl(connection, client.reply.data(),
                                   static_cast<std::uint32_t>(client.reply.size()),
                                   Left(client.dueMs), &written)) {
                port::EndControlOutput(connection);
                client.stage = ControlClient::Stage::Closing;
            }
        }
        if (client.stage == ControlClient::Stage::Closing) {
            char discard[256];
            std::uint32_t read = 0;
            while (
                port::ReadControl(connection, discard, sizeof discard, Left(client.dueMs), &read) &&
                read > 0) {
            }
        }
        Drop(client);
    }
}

void AnswerAwaitingClients(void*) {
    for (ControlClient& client : controlServer.clients) {
        if (client.stage != ControlClient::Stage::Awaiting)
            continue;
        if (std::none_of(client.awaited.begin(), client.awaited.end(),
                         [](const AwaitedApp& app) { return OutcomeOf(app) == Outcome::Pending; }))
            EndAwaiting(client);
    }
}

std::vector<AppStatus> CollectStatus() {
    std::vector<AppStatus> apps;
    const std::uint64_t now = port::NowMs();
    // One reading of the process list serves every application's tree.
    bool listRead = false;
    std::vector<port::ProcessRecord> list;
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry* entry = appTable.entries[i];
        AppStatus status;
        status.number = i;
        status.name = entry->settings.name;
        status.state = StateWord(entry->state);
        // The pending relaunch after a quick exit, or the new attempt after a
        // failed start: seconds until it is due, rounded up.
        if (entry->state == AppState::Waiting && entry->pendingStart.timer.Pending()) {
            status.startPending = true;
            status.nextStartSeconds = SecondsUntil(entry->pendingStart, now);
        }
        status.quickExits = entry->restartCount.quickExits;
        const ReadinessSettings& readiness = entry->settings.readiness;
        status.healthChecked = readiness.health.kind != HealthCheck::Kind::None;
        status.health = HealthWord(*entry);
        status.notifies = readiness.ready.kind == ReadyRule::Kind::Notify;
        status.statusText = entry->notifyStatus;
        if (entry->process) {
            status.processId = port::ProcessIdOf(entry->process.Get());
            status.upSeconds = now >= entry->startedMs ? (now - entry->startedMs) / 1000 : 0;
        }
        status.restarts = entry->restarts;
        status.containment = ContainmentWord(*entry);
        if (!listRead && entry->process && !entry->contained) {
            list = ProcessRows();
            listRead = true;
        }
        const port::Usage usage = ReadAppUsage(*entry, listRead ? &list : nullptr);
        status.cpuKnown = usage.cpuKnown;
        status.cpuMs = usage.cpuMs;
        status.memoryKnown = usage.memoryKnown;
        status.memoryBytes = usage.memoryBytes;
        status.maxMemoryBytes = entry->settings.maxMemoryBytes;
        if (entry->lastExitKnown)
            status.lastExit =
                LastExit{entry->lastExit.bySignal ? LastExit::Kind::Signal : LastExit::Kind::Code,
                         entry->lastExit.value};
        apps.push_back(status);
    }
    return apps;
}
