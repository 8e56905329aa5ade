// What the simulation knows while it runs a scenario: where it is in the
// operations, the table the README promises, and what the simulated machine
// holds that the manager must leave alone.
#pragma once

#include "model.h"
#include "scenario.h"
#include "world.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// An operator's stop whose remaining process is not known yet.
inline constexpr std::uint32_t kPidUnknown = 0xFFFFFFFFu;

struct World {
    explicit World(const Scenario& scenario_) : scenario(scenario_) {}

    const Scenario& scenario;
    std::size_t next = 0; // the next operation
    int applied = 0;
    Outcome outcome;

    Config file;             // what zelkappmgr.ini holds
    std::vector<Slot> table; // the table the README promises
    bool headless = false;
    bool headlessNext = false;
    bool extraCommands = false; // the manager that runs has "reload"
    bool ending = false;        // the manager was told to end, or crashed
    bool endAsked = false;      // its end is expected
    bool restarting = false;    // a new manager is to start and be checked
    // Since this manager started, a configuration let two entries of one
    // program attach to one copy (AttachByCommandLine was off).
    bool sharedCopies = false;
    bool trace = false; // every log entry and operation on standard error
    Progress* progress = nullptr;

    std::vector<std::uint32_t> bystanders; // processes of other programs
    std::vector<std::uint32_t> children;   // processes the applications started
    // The operator's stops: by number, the process the application kept
    // then (0: none). It may end, but no other may take its place.
    std::map<int, std::uint32_t> stopped;
    std::vector<Op> tamper; // rewrites of the record before the next start
    // Reloads applied: an answer to a line sent before the last of them may
    // be about entries that have gone since.
    std::uint64_t reloads = 0;
    // The first answer to a sent line found untrue, and why.
    std::string answerBroken;
    // The processes of running entries found ended at the last check.
    std::vector<std::uint32_t> endedSeen;

    // How far each of the fake system's lists of actions has been looked at.
    std::size_t killedSeen = 0;
    std::size_t askedSeen = 0;
    std::size_t signalsSeen = 0;
    std::size_t groupsSeen = 0;
    std::size_t askedGroupsSeen = 0;
    std::size_t endedContainersSeen = 0;
    std::size_t askedContainersSeen = 0;
};

} // namespace sim
