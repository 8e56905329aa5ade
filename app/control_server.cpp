#include "app/control_server.h"

#include "console/command_table.h"
#include "console/console.h"
#include "port/control.h"
#include "port/process.h"
#include "port/system.h"
#include "supervisor/app_entry.h"

#include <string>

namespace {

port::Handle endpoint = port::kNullHandle;

std::uint32_t Left(std::uint64_t deadline) {
    const std::uint64_t now = port::NowMs();
    return now >= deadline ? 0 : static_cast<std::uint32_t>(deadline - now);
}

enum class RequestRead { Line, TooLong, Dropped };

// Reads the request line, up to its line end (or the client's end of
// sending), before the deadline.
RequestRead ReadRequestLine(port::Handle client, std::uint64_t deadline, std::string* line) {
    line->clear();
    char buffer[128];
    for (;;) {
        std::uint32_t read = 0;
        const port::ControlIo result =
            port::ReadControl(client, buffer, sizeof buffer, Left(deadline), &read);
        if (result == port::ControlIo::Closed)
            return line->empty() ? RequestRead::Dropped : RequestRead::Line;
        if (result != port::ControlIo::Done)
            return RequestRead::Dropped;
        line->append(buffer, read);
        const std::size_t end = line->find('\n');
        if (end != std::string::npos) {
            line->resize(end);
            if (!line->empty() && line->back() == '\r')
                line->pop_back();
            return line->size() > kMaxRequestLength ? RequestRead::TooLong : RequestRead::Line;
        }
        if (line->size() > kMaxRequestLength)
            return RequestRead::TooLong;
    }
}

std::string OkReply(const std::vector<std::string>& lines) {
    std::string reply = std::string(kReplyOk) + " " + std::to_string(lines.size()) + "\n";
    for (const std::string& line : lines)
        reply += line + "\n";
    return reply;
}

std::string ErrorReply(const char* why) {
    return std::string(kReplyErrorPrefix) + why + "\n";
}

std::string RunSentLine(const std::string& line) {
    if (line.empty())
        return ErrorReply("the command line is empty");
    PrintMessage("Command from outside: %s", line.c_str());
    std::vector<std::string> entries;
    CaptureLogEntries(&entries);
    ExecuteLine(line.c_str());
    CaptureLogEntries(nullptr);
    for (std::string& entry : entries)
        entry = OneLine(entry);
    return OkReply(entries);
}

std::string StatusReply() {
    std::vector<std::string> records;
    for (const AppStatus& status : CollectStatus())
        records.push_back(EncodeStatusRecord(status));
    return OkReply(records);
}

} // namespace

void OpenControlChannel() {
    endpoint = port::OpenControlEndpoint(kControlName);
    if (endpoint == port::kNullHandle) {
        PrintMessage("Could not open the control channel. Error: %d.",
                     static_cast<int>(port::LastError()));
        return;
    }
    if (!AddWaitHandle(endpoint, OnControlRequest, nullptr)) {
        port::CloseControl(endpoint, 0);
        endpoint = port::kNullHandle;
    }
}

void OnControlRequest(WaitTable*, std::int32_t, void*) {
    std::uint32_t userId = 0;
    bool sameUser = false;
    const port::Handle client = port::AcceptControlClient(endpoint, &userId, &sameUser);
    if (client != port::kNullHandle)
        ServeControlClient(client, userId, sameUser);
}

void ServeControlClient(port::Handle client, std::uint32_t userId, bool sameUser) {
    const std::uint64_t deadline = port::NowMs() + kControlTimeLimitMs;
    std::string reply;
    if (!sameUser) {
        PrintMessage("Refused a command from user %d.", static_cast<int>(userId));
        reply = ErrorReply("refused: the manager runs for another user");
    } else {
        std::string line;
        switch (ReadRequestLine(client, deadline, &line)) {
        case RequestRead::Dropped:
            port::CloseControl(client, 0);
            return;
        case RequestRead::TooLong:
            reply = ErrorReply("refused: a request holds at most 255 bytes");
            break;
        case RequestRead::Line: {
            const ControlRequest request = DecodeRequest(line);
            if (request.kind == ControlRequest::Kind::Send)
                reply = RunSentLine(request.line);
            else if (request.kind == ControlRequest::Kind::Status)
                reply = StatusReply();
            else
                reply = ErrorReply("unknown request");
            break;
        }
        }
    }
    port::WriteControl(client, reply.data(), static_cast<std::uint32_t>(reply.size()),
                       Left(deadline));
    port::CloseControl(client, Left(deadline));
}

std::vector<AppStatus> CollectStatus() {
    std::vector<AppStatus> apps;
    const std::uint64_t now = port::NowMs();
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry* entry = appTable.entries[i];
        AppStatus status;
        status.number = i;
        status.name = entry->name;
        status.running = entry->IsRunning();
        if (status.running) {
            status.processId = port::ProcessIdOf(entry->process);
            status.upSeconds = now >= entry->startedMs ? (now - entry->startedMs) / 1000 : 0;
        }
        status.restarts = entry->restarts;
        if (entry->lastExitKnown)
            status.lastExit =
                LastExit{entry->lastExit.bySignal ? LastExit::Kind::Signal : LastExit::Kind::Code,
                         entry->lastExit.value};
        apps.push_back(status);
    }
    return apps;
}
