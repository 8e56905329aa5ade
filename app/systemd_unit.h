// The systemd unit that runs the manager headless at boot, as --print-service
// writes it: Type=notify, the program's own path with --headless, the working
// directory, reload by SIGHUP, KillMode=mixed, a start time that covers the
// configuration's readiness and a stop time longer than its stop time limits.
#pragma once

#include "app/service_start_time.h"

#include <cstdint>
#include <string>

// What the unit names.
struct UnitFacts {
    std::string program;          // the absolute path of the executable
    std::string directory;        // the directory of zelkappmgr.ini
    std::string user;             // User=; none when empty (root)
    std::string runtimeDirectory; // ZELKAPPMGR_RUNTIME_DIR to set; none when empty
    // The longest wait for readiness and TimeoutStartSec; each
    // kUnlimitedStartSeconds when an application may take any time.
    std::uint32_t longestReadySeconds = 0;
    std::uint32_t startSeconds = kDefaultServiceStartSeconds;
    std::uint32_t longestStopSeconds = 0;
    std::uint32_t stopSeconds = 0; // TimeoutStopSec
};

// The unit's text, lines ending in '\n'. False, with *problem saying why,
// when a fact cannot stand in a unit: a control byte anywhere, a quote or a
// backslash in the program's path (systemd refuses those in an executable's
// name), a blank at the end of the directory (systemd would drop it).
bool WriteSystemdUnit(const UnitFacts& facts, std::string* unit, std::string* problem);

// `path` as the executable of an ExecStart= line: quoted when it holds a
// blank, with '%' doubled so that systemd expands no specifier in it (it
// expands no variable there).
std::string UnitExecutable(const std::string& path);

// `text` as a setting's value that systemd takes whole (a path, a name):
// '%' doubled.
std::string UnitValue(const std::string& text);
