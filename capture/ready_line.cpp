#include "capture/ready_line.h"

#include "control/control_protocol.h"
#include "control/control_server.h"
#include "port/control.h"
#include "port/system.h"

#include <cstring>

namespace {

constexpr char kReadyLineOption[] = "--ready-line";

// The whole exchange may take this long: the capture process reads no
// output meanwhile (its pipe holds what comes).
constexpr std::uint32_t kTellLimitMs = 2000;

} // namespace

void AppendReadyLineArguments(const ReadyLine& line, std::vector<std::string>* arguments) {
    if (line.text.empty())
        return;
    arguments->push_back(kReadyLineOption);
    arguments->push_back(line.name);
    arguments->push_back(line.text);
}

int TakeReadyLineArguments(int count, const char* const* arguments, ReadyLine* line) {
    if (count < 3 || std::strcmp(arguments[count - 3], kReadyLineOption) != 0)
        return count;
    line->name = arguments[count - 2];
    line->text = arguments[count - 1];
    return count - 3;
}

bool ReadyLineWatch::Feed(const char* data, std::size_t length) {
    if (found_ || text_.empty())
        return false;
    const std::size_t keep = text_.size() - 1;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i < length && data[i] != '\n')
            continue;
        // A piece of one line: what was kept of the line before it, and it.
        tail_.append(data + start, i - start);
        if (tail_.find(text_) != std::string::npos) {
            found_ = true;
            return true;
        }
        if (i < length)
            tail_.clear(); // the line ended
        else if (tail_.size() > keep)
            tail_.erase(0, tail_.size() - keep);
        start = i + 1;
    }
    return false;
}

bool TellManagerReady(const std::string& name) {
    bool timedOut = false;
    const port::UniqueControl connection(
        port::ConnectControlEndpoint(kControlName, kTellLimitMs, &timedOut));
    if (!connection)
        return false;
    const std::string request = EncodeReadyRequest(name);
    std::uint32_t written = 0;
    if (!port::WriteControl(connection.Get(), request.data(),
                            static_cast<std::uint32_t>(request.size()), kTellLimitMs, &written))
        return false;
    // The reply says that the request was taken; then both ends close.
    std::string received;
    ControlReply reply;
    while (DecodeReply(received, &reply) == ReplyState::Incomplete) {
        char buffer[256];
        std::uint32_t read = 0;
        if (!port::ReadControl(connection.Get(), buffer, sizeof buffer, kTellLimitMs, &read) ||
            read == 0)
            return false;
        received.append(buffer, read);
    }
    return reply.ok;
}
