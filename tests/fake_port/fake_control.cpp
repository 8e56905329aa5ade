#include "fake_control.h"

#include "fake_port.h"
#include "port/control.h"

#include <algorithm>
#include <cstring>

namespace fake {
namespace {

constexpr port::Handle kEndpoint = 31;
constexpr port::Handle kClient = 32;

ControlClient* Current() {
    ControlState& c = Control();
    return c.served.empty() || c.served.back().closed ? nullptr : &c.served.back();
}

} // namespace

ControlState& Control() {
    static ControlState state;
    return state;
}

port::Handle ControlEndpoint() {
    return kEndpoint;
}

} // namespace fake

namespace port {

Handle OpenControlEndpoint(const char*) {
    fake::ControlState& c = fake::Control();
    if (c.openFails)
        return kNullHandle;
    c.endpointOpen = true;
    return fake::kEndpoint;
}

Handle AcceptControlClient(Handle endpoint, std::uint32_t* userId, bool* sameUser) {
    fake::ControlState& c = fake::Control();
    if (endpoint != fake::kEndpoint || c.waiting.empty() || fake::Current() != nullptr)
        return kNullHandle;
    c.served.push_back(c.waiting.front());
    c.waiting.erase(c.waiting.begin());
    c.requestRead = 0;
    *userId = c.served.back().userId;
    *sameUser = c.served.back().sameUser;
    return fake::kClient;
}

Handle ConnectControlEndpoint(const char*) {
    return kNullHandle;
}

ControlIo ReadControl(Handle connection, char* buffer, std::uint32_t size, std::uint32_t timeoutMs,
                      std::uint32_t* read) {
    *read = 0;
    fake::ControlClient* client = fake::Current();
    if (connection != fake::kClient || client == nullptr)
        return ControlIo::Failed;
    fake::ControlState& c = fake::Control();
    const std::size_t left = client->request.size() - c.requestRead;
    if (left > 0) {
        const std::size_t n = std::min<std::size_t>(left, size);
        std::memcpy(buffer, client->request.data() + c.requestRead, n);
        c.requestRead += n;
        *read = static_cast<std::uint32_t>(n);
        return ControlIo::Done;
    }
    if (client->closesAfterSending)
        return ControlIo::Closed;
    fake::Get().nowMs += timeoutMs;
    return ControlIo::TimedOut;
}

ControlIo WriteControl(Handle connection, const char* data, std::uint32_t length, std::uint32_t) {
    fake::ControlClient* client = fake::Current();
    if (connection != fake::kClient || client == nullptr)
        return ControlIo::Failed;
    client->reply.append(data, length);
    return ControlIo::Done;
}

void CloseControl(Handle connection, std::uint32_t) {
    if (connection == fake::kClient)
        if (fake::ControlClient* client = fake::Current())
            client->closed = true;
}

} // namespace port
