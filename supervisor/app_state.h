// The state of one application and the one table that changes it: from the
// state, the facts a transition looks at and an event to the next state and
// the actions to take. The commands, "list", the status report and a reload
// all read this state; nothing else decides it, and nothing beside it
// repeats it.
#pragma once

#include <cstdint>

enum class AppState : std::uint8_t {
    Stopped,         // no process, nothing planned
    Starting,        // launched, not yet ready
    Running,         // its process is supervised
    Stopping,        // a stop waits for its tree to end
    Restarting,      // a stop waits for its tree to end; then it starts again
    Relaunching,     // it ended; what it left is ended and waited for before its relaunch
    Waiting,         // a start is planned: a relaunch pause, a new attempt, or its start order
    GaveUp,          // it ended too often too soon: down until an operator starts it
    Failed,          // its last start failed and no new attempt is planned
    Removed,         // gone from the configuration; its number stays, empty
    RemovedStopping, // gone from the configuration, its stop still under way
};
inline constexpr int kAppStates = 11;

enum class AppEvent : std::uint8_t {
    Launched,        // a process of it is supervised: started, or found running
    LaunchFailed,    // a start failed
    Exited,          // its process ended on its own
    StopAsked,       // "stop", "stopall"; again while stopping: end the tree now
    RestartAsked,    // "restart", "restartall"
    StartAsked,      // "start", "startall"
    StopLimitPassed, // the stop's time limit came
    TreeEnded,       // nothing of the tree that a stop waits for is left
    TimerDue,        // the planned start is due (its time came, or what it waited for is ready)
    ReloadChanged,   // a reload gave it another program or other parameters
    ReloadRemoved,   // a reload found it gone from the file
    ReloadReturned,  // a reload names it again after it was removed
    EndNow,          // "quit", a second request to end: trees still stopping end at once
    Shutdown,        // the manager stops every application for good
    Ready,           // its [Ready] rule is met
    ReadyTimedOut,   // it did not become ready within its [ReadyTimeout]
    HealthFailed,    // its health check failed [HealthFailures] times in a row
};
inline constexpr int kAppEvents = 17;

// Actions, taken in the order of their bits.
enum AppAction : std::uint32_t {
    kNoAction = 0,
    kForgetQuickExits = 1u << 0, // an operator's start: the count, the pause, a give-up
    kCancelStart = 1u << 1,      // the planned start is dropped
    kSayWillNotStart = 1u << 2,  // "Will not restart %s." / "Will not try to start %s again."
    kSayNotReady = 1u << 3,      // "%s did not become ready within %d s."
    kSayUnhealthy = 1u << 4,     // "%s failed %d health checks in a row; restarting it."
    kSayTerminating = 1u << 5,   // "Terminating process %s."
    kAskTreeToEnd = 1u << 6,     // a polite stop: ask the tree, wait for it within the limit
    kAwaitLeftovers = 1u << 7,   // the relaunch waits until the leftovers of an exit are gone
    kSayDidNotStop = 1u << 8,    // "%s did not stop within %d s; ending its process tree."
    kEndTree = 1u << 9,          // the tree ends at once; a stop under way is over
    kSayStopped = 1u << 10,      // "%s stopped."
    kFinishStop = 1u << 11,      // a stop under way is over
    kForgetProcess = 1u << 12,   // the ended process is let go
    kPlanRetry = 1u << 13,       // a new attempt after a failed start
    kPlanRelaunch = 1u << 14,    // "Will restart %s in %d s."
    kSayGivingUp = 1u << 15,     // "Giving up on %s: ..."
    kAwaitOrder = 1u << 16,      // the start waits for the applications it starts after
    kLaunch = 1u << 17,          // started; the outcome comes back as an event
    kAwaitReady = 1u << 18,      // its [Ready] rule is watched, within its time limit
    kSayReady = 1u << 19,        // "%s is ready."
    kStartChecks = 1u << 20,     // its [Health] check runs from now on
};

// What a transition looks at besides the state and the event, as bits.
enum AppFact : std::uint16_t {
    kPoliteStop = 1u << 0,        // a stop asks the tree first (its stop limit is above 0)
    kRetryFailedStarts = 1u << 1, // a failed start is tried again
    kReadyRule = 1u << 2,         // it has a [Ready] rule: launched, it is starting
    kHealthChecks = 1u << 3,      // it has a [Health] check
    kOrderUnmet = 1u << 4,        // its start keeps the start order, and what it
                                  // starts after is not all ready
    kStaysDown = 1u << 5,         // the manager ends every application, or a stop of
                                  // it waits for its turn: it is not started again
    kNoStarts = 1u << 6,          // the manager ends every application: nothing starts
    // After Exited (and ReadyTimedOut): what the exit policy says (neither of
    // the two: at once), and whether leftovers of the ended process were
    // ended and must be gone before the relaunch.
    kPlanLater = 1u << 7,
    kPlanGiveUp = 1u << 8,
    kLeftoversEnded = 1u << 9,
};

struct AppStep {
    AppState next;
    std::uint32_t actions; // AppAction bits
};

// The transition table: rows of (states, events, facts that must be set,
// facts that must be clear) to a step; the first row that matches decides,
// and where none does the state stays and nothing is done.
struct AppTransition {
    std::uint16_t states; // bit i: AppState i
    std::uint32_t events; // bit i: AppEvent i
    std::uint16_t set;    // AppFact bits that must be set
    std::uint16_t clear;  // AppFact bits that must be clear
    AppStep step;
};

// The table itself, and its length.
extern const AppTransition kAppTransitions[];
extern const int kAppTransitionCount;

// The transition function: the table looked up.
AppStep NextStep(AppState state, AppEvent event, std::uint16_t facts);

// A process of it runs, ready or not.
inline bool IsUp(AppState state) {
    return state == AppState::Running || state == AppState::Starting;
}

// A stop of it is under way: its tree was asked or ended, and is waited for.
inline bool IsStopping(AppState state) {
    return state == AppState::Stopping || state == AppState::Restarting ||
           state == AppState::Relaunching || state == AppState::RemovedStopping;
}

// Gone from the configuration.
inline bool IsRemoved(AppState state) {
    return state == AppState::Removed || state == AppState::RemovedStopping;
}

// How the state is shown: the word of --status ("running", "gave-up", ...)
// and the mark that "list" puts after the name ("", "[STOPPED]", ...).
const char* StateWord(AppState state);
const char* StateMark(AppState state);
