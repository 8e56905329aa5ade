// The command line. Without arguments the program is the manager; with
// --send or --status it is a client of the manager that runs for this user.
#pragma once

#include "app/service_options.h"
#include "capture/capture_arguments.h"
#include "control/control_client.h"
#include "control/tail_client.h"

#include <string>

enum class ProgramMode {
    Manager,  // no arguments: supervise the configured applications
    Headless, // --headless: the same without a console
    Send,     // --send LINE: run LINE in the running manager
    Status,   // --status [--json]: the running manager's applications
    Reload,   // --reload: the running manager reads its configuration again
    Tail,     // --tail NAME [N] [--follow]: an application's captured output
    Help,     // --help: list the options
    Version,  // --version: print the version
    Capture,  // --capture FILE MAXBYTES BACKUPS STAMPS: the manager's capture process
    Service,  // --install-service, --uninstall-service, --service, --print-service
};

struct Options {
    ProgramMode mode = ProgramMode::Manager;
    std::string line; // the command line of --send
    bool json = false;
    TailRequest tail;
    CaptureSettings capture;
    ServiceOptions service;
};

// Reads the arguments after the program name. False, with a one-line
// explanation in *error, when they are not understood.
bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// "zelkappmgr <version>": the version from the build, for --version and the
// first line of --help.
std::string VersionLine();

// The text of --help, lines ending in '\n'.
std::string UsageText();
