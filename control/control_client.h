// The client end of the control channel: the program run with --send or
// --status, talking to the manager that runs for this user.
#pragma once

#include "control/control_protocol.h"

#include <string>

// What the client asks of the manager.
struct ClientRequest {
    enum class Kind { Send, Status, Reload } kind = Kind::Status;
    std::string line;  // the command line of a Send
    bool json = false; // a Status printed as JSON
};

// Exit code of a command line that cannot be understood.
inline constexpr int kUsageExitCode = 2;

// Carries out the request; returns the program's exit code: 0 done, 1 no
// manager, a refused request or one that did not do what it was asked, 2 a
// command line that cannot be sent.
int ClientMain(const ClientRequest& request);

// Sends one request to the manager and reads its reply. False, having said
// why on standard error (unless `quiet`), when no manager answers or it
// refuses the request; *noManager then tells that none runs.
bool AskManager(const std::string& request, ControlReply* reply, bool* noManager, bool quiet);
