// The options that start the manager at boot: a Windows service
// (--install-service, --uninstall-service, --service) or a systemd unit
// (--print-service). Each stands alone, with its own arguments.
#pragma once

#include <string>

enum class ServiceAction {
    Install,   // --install-service [NAME] (Windows)
    Uninstall, // --uninstall-service [NAME] (Windows)
    Run,       // --service --dir DIR: the entry of the service control manager (Windows)
    PrintUnit, // --print-service: a systemd unit (Linux)
};

struct ServiceOptions {
    ServiceAction action = ServiceAction::PrintUnit;
    std::string name;      // of Install and Uninstall
    std::string directory; // of Run
};

// The service's name unless --install-service or --uninstall-service names one.
inline constexpr char kDefaultServiceName[] = "ZelkAppMgr";

// True for one of the options.
bool IsServiceOption(const char* argument);

// Reads the arguments after the program name, which hold one of the
// options. False, with a one-line explanation in *error, when they are not
// understood.
bool ParseServiceOptions(int argc, const char* const* argv, ServiceOptions* options,
                         std::string* error);

// The option of an action, as typed ("--service").
const char* ServiceOptionName(ServiceAction action);
