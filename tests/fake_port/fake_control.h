// The control channel of the fake port: clients that a test lines up, which
// the manager accepts in order, and what the manager wrote back to each.
#pragma once

#include "port/types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

struct ControlClient {
    std::string request;            // the bytes the client sends
    bool closesAfterSending = true; // else it goes silent: reads then time out
    std::uint32_t userId = 1000;
    bool sameUser = true;
    // Filled in as the manager serves the client.
    std::string reply;
    bool closed = false;
};

struct ControlState {
    bool openFails = false;
    bool endpointOpen = false;
    std::vector<ControlClient> waiting; // not yet accepted, first in line first
    std::vector<ControlClient> served;  // accepted, in order
    // Bytes of the current client's request already handed out.
    std::size_t requestRead = 0;
};

ControlState& Control();

// The handle of the manager's endpoint.
port::Handle ControlEndpoint();

} // namespace fake
