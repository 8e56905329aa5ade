// What supervising the applications needs besides each application's own
// entry, for as long as the manager runs: the events waiting to be handled,
// whether the manager ends every application, an ordered stop under way,
// the record of started processes, the notify socket, the containers'
// support and the reading of the process list that stopping trees share.
// One object owns it all; the parts go to what needs them.
#pragma once

#include "loop/wait_table.h"
#include "port/probe.h"
#include "supervisor/app_entry.h"
#include "supervisor/app_state.h"
#include "supervisor/exit_policy.h"
#include "supervisor/process_tree.h"
#include "supervisor/start_record.h"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

// Called after an event changed an application's state (from `before`):
// the start order and the headless manager's readiness follow it.
using StateChangeHook = void (*)(AppEntry& entry, AppState before, void* context);

// Called once the events under way have all been handled and what followed
// their changes too: the states are settled (a control client's answer).
using SettledHook = void (*)(void* context);

// An event raised while another is handled: handled after it, in order.
struct QueuedEvent {
    AppEntry* entry;
    AppEvent event;
    ExitOutcome exit;
};

// A stop that keeps the start order ("stopall", "restartall", the end of a
// headless manager): the applications whose turn has not come yet (by
// serial), each asked with `event` once all that start after it have
// stopped; and, for "restartall", those to start in start order once the
// last has stopped.
struct OrderedStop {
    AppEvent event = AppEvent::StopAsked;
    std::vector<std::uint64_t> waiting;
    std::vector<std::uint64_t> restarting;
};

// An application a command asked to stop or to restart (by serial): what
// a control client that answers once it is done waits for.
struct AskedOperation {
    std::uint64_t serial = 0;
    bool restart = false;
};

// The manager's notify socket, opened when the first application that needs
// it starts.
struct NotifySocket {
    bool tried = false;
    port::UniqueProbe socket;
    WaitRow row;
    std::string address;
};

// Whether applications' processes can be held in containers (found out
// the first time a key asks), and whether their emptying is an event.
struct ContainerSupport {
    enum class Readiness : std::uint8_t { Unknown, Ready, Unavailable };
    Readiness readiness = Readiness::Unknown;
    WaitRow watch; // the containers' watch, where the system gives one
};

struct Supervision {
    bool shutdown = false; // the manager ends every application: nothing starts
    OrderedStop orderedStop;
    StateChangeHook onStateChange = nullptr;
    void* hookContext = nullptr;
    SettledHook onSettled = nullptr;
    void* settledContext = nullptr;
    // What the command being run asked, in the order it asked it.
    std::vector<AskedOperation> asked;
    bool dispatching = false; // an event is handled now: others wait in `events`
    std::deque<QueuedEvent> events;
    // The entries whose state changed since the hook last ran, each with its
    // state before the first change.
    std::vector<std::pair<AppEntry*, AppState>> changed;
    std::uint64_t lastSerial = 0; // the serial of the entry made last
    StartRecord record;
    NotifySocket notify;
    ContainerSupport containers;
    SharedReading processes;
};

extern Supervision supervision;
