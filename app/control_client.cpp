#include "app/control_client.h"

#include "app/control_protocol.h"
#include "app/control_server.h"
#include "port/control.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// How long the client waits for the manager: a command such as stopping a
// large tree may take a while, a manager that hangs must not hang us.
constexpr std::uint32_t kClientTimeLimitMs = 30000;

int Fail(const char* why) {
    std::fprintf(stderr, "zelkappmgr: %s\n", why);
    return 1;
}

// The reply: its first line and the payload lines it announces, or false
// when the connection ended before they were all there.
bool ReadReply(port::Handle connection, std::string* head, std::vector<std::string>* lines) {
    std::string data;
    char buffer[4096];
    std::size_t expected = 0;
    bool haveHead = false;
    for (;;) {
        // Whole lines first.
        std::size_t end;
        while ((end = data.find('\n')) != std::string::npos) {
            std::string line = data.substr(0, end);
            data.erase(0, end + 1);
            if (!haveHead) {
                *head = line;
                haveHead = true;
                const std::string ok = std::string(kReplyOk) + " ";
                if (line.compare(0, ok.size(), ok) != 0)
                    return true;
                expected = std::strtoul(line.c_str() + ok.size(), nullptr, 10);
            } else {
                lines->push_back(line);
            }
            if (haveHead && lines->size() == expected)
                return true;
        }
        std::uint32_t read = 0;
        const port::ControlIo result =
            port::ReadControl(connection, buffer, sizeof buffer, kClientTimeLimitMs, &read);
        if (result != port::ControlIo::Done)
            return false;
        data.append(buffer, read);
    }
}

} // namespace

int ClientMain(const Options& options) {
    std::string request;
    if (options.mode == ProgramMode::Send) {
        if (options.line.find_first_of("\r\n") != std::string::npos) {
            std::fputs("zelkappmgr: the command line may not hold a line break\n", stderr);
            return kUsageExitCode;
        }
        request = EncodeSendRequest(options.line);
    } else {
        request = EncodeStatusRequest();
    }

    const port::Handle connection = port::ConnectControlEndpoint(kControlName);
    if (connection == port::kNullHandle)
        return Fail("no manager is running for this user");

    std::string head;
    std::vector<std::string> lines;
    const bool sent =
        port::WriteControl(connection, request.data(), static_cast<std::uint32_t>(request.size()),
                           kClientTimeLimitMs) == port::ControlIo::Done;
    const bool answered = sent && ReadReply(connection, &head, &lines);
    port::CloseControl(connection, 0);
    if (!answered)
        return Fail("the manager did not answer");
    if (head.compare(0, sizeof kReplyErrorPrefix - 1, kReplyErrorPrefix) == 0)
        return Fail(head.c_str() + sizeof kReplyErrorPrefix - 1);

    if (options.mode == ProgramMode::Send) {
        for (const std::string& line : lines)
            std::printf("%s\n", line.c_str());
        return 0;
    }
    std::vector<AppStatus> apps;
    for (const std::string& line : lines) {
        AppStatus status;
        if (!DecodeStatusRecord(line, &status))
            return Fail("the manager's answer could not be read");
        apps.push_back(status);
    }
    const std::string text = options.json ? FormatStatusJson(apps) : FormatStatusTable(apps);
    std::fputs(text.c_str(), stdout);
    return 0;
}
