// The manager's end of the control channel: a row of the wait table through
// which a client program of the same user runs a command line or asks for
// the applications' state.
#pragma once

#include "app/control_protocol.h"
#include "app/event_loop.h"
#include "port/types.h"

#include <cstdint>
#include <vector>

// The name the manager listens under and the client connects to.
inline constexpr char kControlName[] = "ZelkAppMgr";

// How long one client may hold the manager: reading its request, writing
// the reply and closing. A client that is slower is dropped.
inline constexpr std::uint32_t kControlTimeLimitMs = 200;

// Opens the endpoint and registers its row. A failure is reported once; the
// manager then runs without it.
void OpenControlChannel();

// The wait callback of the endpoint's row: serves one waiting client.
void OnControlRequest(WaitTable* table, std::int32_t index, void* context);

// Serves one accepted client: reads its request, carries it out, replies
// and closes the connection.
void ServeControlClient(port::Handle client, std::uint32_t userId, bool sameUser);

// The state of every application, in table order.
std::vector<AppStatus> CollectStatus();
