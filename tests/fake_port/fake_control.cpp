#include "fake_control.h"

#include "fake_port.h"
#include "port/control.h"
#include "port/system.h"

#include <algorithm>
#include <cstring>

namespace fake {
namespace {

constexpr port::Handle kEndpoint = 31;
// The connection of served[i] is kFirstClient + i.
constexpr port::Handle kFirstClient = 40;

// The open connection `handle`, or null.
ControlClient* Client(port::Handle handle) {
    ControlState& c = Control();
    const port::Handle index = handle - kFirstClient;
    if (index < 0 || index >= static_cast<port::Handle>(c.served.size()))
        return nullptr;
    ControlClient& client = c.served[static_cast<std::size_t>(index)];
    return client.closed ? nullptr : &client;
}

} // namespace

ControlState& Control() {
    // Never destroyed: the core's own statics may close connections while
    // the program ends.
    static ControlState* state = new ControlState;
    return *state;
}

port::Handle ControlEndpoint() {
    return kEndpoint;
}

bool ControlSignalled(port::Handle handle, bool* known) {
    *known = true;
    if (handle == kEndpoint)
        return Control().endpointOpen && !Control().waiting.empty();
    if (const ControlClient* client = Client(handle))
        return client->requestRead < client->request.size() || client->closesAfterSending;
    *known = false;
    return false;
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
    if (endpoint != fake::kEndpoint || c.waiting.empty())
        return kNullHandle;
    c.served.push_back(c.waiting.front());
    c.waiting.erase(c.waiting.begin());
    *userId = c.served.back().userId;
    *sameUser = c.served.back().sameUser;
    return fake::kFirstClient + static_cast<Handle>(c.served.size() - 1);
}

Handle ConnectControlEndpoint(const char*, std::uint32_t, bool* timedOut) {
    *timedOut = false;
    return kNullHandle;
}

bool ReadControl(Handle connection, char* buffer, std::uint32_t size, std::uint32_t timeoutMs,
                 std::uint32_t* read) {
    *read = 0;
    fake::ControlClient* client = fake::Client(connection);
    if (client == nullptr)
        return fake::Fail(6);
    const std::size_t left = client->request.size() - client->requestRead;
    if (left > 0) {
        const std::size_t n = std::min<std::size_t>(left, size);
        std::memcpy(buffer, client->request.data() + client->requestRead, n);
        client->requestRead += n;
        *read = static_cast<std::uint32_t>(n);
        return true;
    }
    if (client->closesAfterSending)
        return true;
    fake::Get().nowMs += timeoutMs;
    return fake::Fail(port::kErrorTimeout);
}

bool WriteControl(Handle connection, const char* data, std::uint32_t length, std::uint32_t,
                  std::uint32_t* written) {
    *written = 0;
    fake::ControlClient* client = fake::Client(connection);
    if (client == nullptr)
        return fake::Fail(6);
    client->reply.append(data, length);
    *written = length;
    return true;
}

void EndControlOutput(Handle connection) {
    if (fake::ControlClient* client = fake::Client(connection)) {
        client->outputEnded = true;
        if (fake::Control().onOutputEnded)
            fake::Control().onOutputEnded(*client);
    }
}

void CloseControl(Handle connection) {
    if (fake::ControlClient* client = fake::Client(connection))
        client->closed = true;
}

} // namespace port
