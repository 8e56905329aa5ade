#include "control/control_client.h"

#include "control/control_protocol.h"
#include "control/control_server.h"
#include "port/control.h"
#include "port/system.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// How long the client waits for the manager in all, from connecting to the
// end of the reply: a command such as stopping a large tree may take a
// while, a manager that hangs must not hang us.
constexpr std::uint32_t kClientTimeLimitMs = 30000;

int Fail(const char* why) {
    std::fprintf(stderr, "zelkappmgr: %s\n", why);
    return 1;
}

std::uint32_t Left(std::uint64_t deadline) {
    const std::uint64_t now = port::NowMs();
    return now >= deadline ? 0 : static_cast<std::uint32_t>(deadline - now);
}

// Sends the request and reads the reply, before the deadline (which a wait
// notice of the manager moves on: a stop may take its time limit).
bool Exchange(port::Handle connection, const std::string& request, std::uint64_t deadline,
              ControlReply* reply) {
    std::uint32_t written = 0;
    if (!port::WriteControl(connection, request.data(), static_cast<std::uint32_t>(request.size()),
                            Left(deadline), &written))
        return false;
    std::string received;
    char buffer[4096];
    bool extended = false;
    for (;;) {
        switch (DecodeReply(received, reply)) {
        case ReplyState::Complete:
            return true;
        case ReplyState::Malformed:
            return false;
        case ReplyState::Incomplete:
            break;
        }
        if (reply->waitMs > 0 && !extended) {
            deadline = std::max(deadline, port::NowMs() + reply->waitMs + kClientTimeLimitMs);
            extended = true;
        }
        std::uint32_t read = 0;
        // The manager's end closed before the whole reply came: no answer.
        if (!port::ReadControl(connection, buffer, sizeof buffer, Left(deadline), &read) ||
            read == 0)
            return false;
        received.append(buffer, read);
    }
}

} // namespace

bool AskManager(const std::string& request, ControlReply* reply, bool* noManager, bool quiet) {
    *noManager = false;
    const char* why = nullptr;
    const std::uint64_t deadline = port::NowMs() + kClientTimeLimitMs;
    bool timedOut = false;
    const port::Handle connection =
        port::ConnectControlEndpoint(kControlName, kClientTimeLimitMs, &timedOut);
    if (connection == port::kNullHandle) {
        *noManager = !timedOut;
        why = timedOut ? "the manager did not answer" : "no manager is running for this user";
    } else {
        const bool answered = Exchange(connection, request, deadline, reply);
        port::CloseControl(connection);
        if (!answered)
            why = "the manager did not answer";
        else if (!reply->ok)
            why = reply->error.c_str();
    }
    if (why != nullptr && !quiet)
        Fail(why);
    return why == nullptr;
}

int ClientMain(const ClientRequest& client) {
    std::string request;
    if (client.kind == ClientRequest::Kind::Send) {
        if (client.line.find_first_of("\r\n") != std::string::npos) {
            std::fputs("zelkappmgr: the command line may not hold a line break\n", stderr);
            return kUsageExitCode;
        }
        request = EncodeSendRequest(client.line);
    } else if (client.kind == ClientRequest::Kind::Reload) {
        request = EncodeReloadRequest();
    } else {
        request = EncodeStatusRequest();
    }

    ControlReply reply;
    bool noManager = false;
    if (!AskManager(request, &reply, &noManager, false))
        return 1;

    if (client.kind != ClientRequest::Kind::Status) {
        for (const std::string& line : reply.lines)
            std::printf("%s\n", line.c_str());
        return reply.failed ? 1 : 0;
    }
    std::vector<AppStatus> apps;
    for (const std::string& line : reply.lines) {
        AppStatus status;
        if (!DecodeStatusRecord(line, &status))
            return Fail("the manager's answer could not be read");
        apps.push_back(status);
    }
    const std::string text = client.json ? FormatStatusJson(apps) : FormatStatusTable(apps);
    std::fputs(text.c_str(), stdout);
    return 0;
}
