// The manager's end of the control channel: rows of the wait table through
// which client programs of the same user run a command line or ask for the
// applications' state. The endpoint is one row; each client being served is
// a row of its own with a deadline of its own, so that no client ever holds
// the loop: a client is read, answered and closed only as far as it lets
// that happen at once.
#pragma once

#include "control/control_protocol.h"
#include "loop/timers.h"
#include "loop/wait_table.h"
#include "port/control.h"

#include <cstdint>
#include <string>
#include <vector>

// The name the manager listens under and the client connects to.
inline constexpr char kControlName[] = "ZelkAppMgr";

// How long a client may take from its connection to its end: sending its
// request, reading the reply and closing. A client that is slower is dropped.
inline constexpr std::uint32_t kControlTimeLimitMs = 200;

// Clients served at once; more wait in the endpoint's backlog.
inline constexpr int kMaxControlClients = 4;

// While a reply does not fit at once, the rest is tried again this often.
inline constexpr std::uint32_t kControlWriteRetryMs = 10;

// How long a client just accepted may take to send its first bytes before
// the loop goes on (and the client waits for the next pass).
inline constexpr std::uint32_t kFirstRequestWaitMs = 3;

// The longest a sent line waits for an application with a [Ready] rule and
// no [ReadyTimeout] to be ready.
inline constexpr std::uint32_t kUnlimitedReadyAwaitSeconds = 3600;

struct AppEntry;

// An application that a sent line ("stop", "restart", "stopall",
// "restartall") waits for before it answers: its number and entry, and
// whether it is to run again once stopped.
struct AwaitedApp {
    int number = 0;
    std::uint64_t serial = 0; // the entry's: one that took the number since is another
    bool restart = false;
};

struct ControlClient {
    enum class Stage { Reading, Awaiting, Writing, Closing };
    port::UniqueControl connection; // null: the slot is free
    WaitRow row;                    // while it is read from or written to
    Stage stage = Stage::Reading;
    ScopedTimer deadline;    // drops it
    std::uint64_t dueMs = 0; // when that is (port::NowMs)
    ScopedTimer writeRetry;  // the next try of a reply that did not fit
    bool fresh = false;      // just accepted: its first read may wait a moment
    std::string received;    // the request so far
    std::string reply;       // what is still to be written
    // A sent line that answers once what it asked is done: what was logged
    // about it meanwhile, whether it failed, the applications it waits for
    // and their serials (the subjects of the log entries it collects).
    std::vector<std::string> entries;
    bool failed = false;
    std::vector<AwaitedApp> awaited;
    std::vector<std::uint64_t> subjects;
};

// Reads the configuration again and applies it (a "reload" request); false
// when the file was not applied.
using ReloadFunction = bool (*)();

struct ControlServer {
    port::Handle endpoint = port::kNullHandle; // open for the manager's life
    ReloadFunction reload = nullptr;
    WaitRow listening; // the endpoint's row, while there is room for a client
    ControlClient clients[kMaxControlClients];
};

extern ControlServer controlServer;

// Opens the endpoint and registers its row; `reload` serves reload
// requests. A failure is reported once; the manager then runs without it.
void OpenControlChannel(ReloadFunction reload);

// After the loop has ended: gives every client still being answered the rest
// of its time to take its reply, then closes it.
void CloseControlChannel();

// The wait callback of the endpoint's row: accepts the waiting clients that
// there is room for.
void OnControlRequest(WaitTable* table, std::int32_t index, void* context);

// The states have settled after events: the clients that wait for
// stops and restarts get their answers when those are done (the hook of
// SetSettledHook).
void AnswerAwaitingClients(void* context);

// The state of every application, in table order.
std::vector<AppStatus> CollectStatus();
