// The control channel of the fake port: clients that a test lines up, which
// the manager accepts in order, and what the manager wrote back to each.
#pragma once

#include "port/types.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fake {

struct ControlClient {
    std::string request;            // the bytes the client sends
    bool closesAfterSending = true; // else it goes silent: reads find nothing
    std::uint32_t userId = 1000;
    bool sameUser = true;
    // Filled in as the manager serves the client.
    std::string reply;
    bool outputEnded = false;    // the manager said it writes nothing more
    bool closed = false;         // the manager closed the connection
    std::size_t requestRead = 0; // bytes of the request already handed out
    std::uint64_t tag = 0;       // the test's own mark
};

struct ControlState {
    bool openFails = false;
    bool endpointOpen = false;
    std::vector<ControlClient> waiting; // not yet accepted, first in line first
    std::vector<ControlClient> served;  // accepted, in order
    // Called as the manager ends its output to a client: its reply is whole.
    std::function<void(const ControlClient&)> onOutputEnded;
};

ControlState& Control();

// The handle of the manager's endpoint.
port::Handle ControlEndpoint();

// Whether `handle` belongs to the control channel (*known) and, if so,
// whether it is signalled: the endpoint while clients wait, a connection
// while its request has bytes left or its client has closed.
bool ControlSignalled(port::Handle handle, bool* known);

} // namespace fake
