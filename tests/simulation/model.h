// What the README promises about the application table, worked out on its
// own from the configurations: which applications are listed, under which
// number and name, and which numbers are empty. The simulation holds the
// manager's table against it after every step.
#pragma once

#include "scenario.h"

#include <string>
#include <vector>

namespace sim {

struct Slot {
    std::string name; // as shown: the spelling it was first listed with
    AppSpec spec;     // what the file said of it last
    bool removed = false;
};

// The table as start-up builds it from `config`, read as specified (a
// section it does not know is ignored, and so on): at most 15, and one whose
// output would go to the file of one before it is skipped.
std::vector<Slot> StartUpTable(const Config& config);

// True when a reload of `config` must change nothing: a section header
// without its ']', no application, a section the manager does not know, a
// line outside any section, or an application that would be added or changed
// to a program that is not there. `emptyNumbers` are the removed numbers of
// which nothing is under way any more (the manager tells).
bool ReloadRefused(const std::vector<Slot>& table, const Config& config,
                   const std::vector<bool>& emptyNumbers);

// The table after a reload of `config` that is not refused.
std::vector<Slot> ReloadedTable(const std::vector<Slot>& table, const Config& config,
                                const std::vector<bool>& emptyNumbers);

// The output files of two names are one (ignoring ASCII case).
bool SameOutputFile(const std::string& a, const std::string& b);

// The same program started the same way, as a reload compares them.
bool SameProgram(const AppSpec& a, const AppSpec& b);

} // namespace sim
