#include "app/service_options.h"

#include <cstring>

namespace {

struct ServiceOption {
    const char* name;
    ServiceAction action;
    bool takesName; // NAME may follow
};

constexpr ServiceOption kServiceOptions[] = {
    {"--install-service", ServiceAction::Install, true},
    {"--uninstall-service", ServiceAction::Uninstall, true},
    {"--service", ServiceAction::Run, false},
    {"--print-service", ServiceAction::PrintUnit, false},
};

const ServiceOption* Find(const char* argument) {
    for (const ServiceOption& option : kServiceOptions)
        if (std::strcmp(argument, option.name) == 0)
            return &option;
    return nullptr;
}

} // namespace

bool IsServiceOption(const char* argument) {
    return Find(argument) != nullptr;
}

bool ParseServiceOptions(int argc, const char* const* argv, ServiceOptions* options,
                         std::string* error) {
    const ServiceOption* chosen = nullptr;
    for (int i = 1; i < argc; ++i) {
        const ServiceOption* option = Find(argv[i]);
        if (option != nullptr && chosen != nullptr) {
            *error = option == chosen
                         ? std::string(option->name) + " may be given once only"
                         : std::string(chosen->name) + " cannot be combined with " + option->name;
            return false;
        }
        chosen = option != nullptr ? option : chosen;
    }
    if (chosen == nullptr) {
        *error = "no option to start at boot";
        return false;
    }
    options->action = chosen->action;
    if (chosen->takesName)
        options->name = kDefaultServiceName;
    bool sawDirectory = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (Find(argument) == chosen) {
            // A word after it that is no option is the service's name.
            if (chosen->takesName && i + 1 < argc && argv[i + 1][0] != '-')
                options->name = argv[++i];
        } else if (std::strcmp(argument, "--dir") == 0 && chosen->action == ServiceAction::Run &&
                   !sawDirectory) {
            if (i + 1 >= argc) {
                *error = "--dir needs the directory";
                return false;
            }
            sawDirectory = true;
            options->directory = argv[++i];
        } else {
            *error = std::string(chosen->name) + " does not go with " + argument;
            return false;
        }
    }
    if (chosen->action == ServiceAction::Run && options->directory.empty()) {
        *error = "--service needs --dir DIRECTORY";
        return false;
    }
    return true;
}

const char* ServiceOptionName(ServiceAction action) {
    for (const ServiceOption& option : kServiceOptions)
        if (option.action == action)
            return option.name;
    return "";
}
