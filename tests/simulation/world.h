// A scenario run against the real core over the fake system: each operation
// is applied before a wait of the event loop, and everything that must
// always hold is checked before the next one.
#pragma once

#include "scenario.h"

#include <cstdint>
#include <string>

namespace sim {

struct Outcome {
    bool failed = false;
    std::string invariant; // which rule broke
    std::string detail;
    int step = 0; // the operation after which it broke (from 1)
    std::uint64_t checks = 0;
    int steps = 0; // operations applied
};

// How far a run has come, kept up to date as it goes (so that a run that
// crashes can still tell).
struct Progress {
    int steps = 0;
    std::uint64_t checks = 0;
};

// Runs `scenario` from a fresh fake system, in the working directory (where
// zelkappmgr.ini is written). Stops at the first broken rule. With `trace`,
// every operation and log entry is written to standard error.
Outcome Run(const Scenario& scenario, bool trace = false, Progress* progress = nullptr);

} // namespace sim
