#include "app/options.h"

#include "zelk_version.h"

#include "common/text.h"

#include <cstdint>
#include <cstring>

namespace {

bool Is(const char* argument, const char* longName, const char* shortName = nullptr) {
    return std::strcmp(argument, longName) == 0 ||
           (shortName != nullptr && std::strcmp(argument, shortName) == 0);
}

} // namespace

bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
    *options = Options{};
    bool sawSend = false;
    bool sawStatus = false;
    bool sawHelp = false;
    bool sawHeadless = false;
    bool sawReload = false;
    bool sawVersion = false;
    bool sawTail = false;
    bool sawFollow = false;
    // Given by the manager itself (see capture_arguments.h).
    if (argc > 1 && ParseCaptureArguments(argc - 1, argv + 1, &options->capture)) {
        options->mode = ProgramMode::Capture;
        return true;
    }
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (Is(argument, "--send", "-s")) {
            if (sawSend) {
                *error = "--send may be given once only";
                return false;
            }
            if (i + 1 >= argc) {
                *error = std::string(argument) + " needs the command line to send";
                return false;
            }
            sawSend = true;
            options->line = argv[++i];
        } else if (Is(argument, "--tail")) {
            if (sawTail || i + 1 >= argc) {
                *error = sawTail ? "--tail may be given once only"
                                 : "--tail needs the name of an application";
                return false;
            }
            sawTail = true;
            options->tail.name = argv[++i];
            // An optional count of lines: a whole number from 1 on.
            if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
                std::uint64_t lines = 0;
                if (!ParseWholeNumber(argv[i + 1], 100000, &lines) || lines == 0) {
                    *error = std::string("--tail: not a number of lines: ") + argv[i + 1];
                    return false;
                }
                options->tail.lines = static_cast<int>(lines);
                ++i;
            }
        } else if (Is(argument, "--follow", "-f")) {
            sawFollow = true;
        } else if (Is(argument, "--status")) {
            sawStatus = true;
        } else if (Is(argument, "--json")) {
            options->json = true;
        } else if (Is(argument, "--help", "-h")) {
            sawHelp = true;
        } else if (Is(argument, "--version", "-V")) {
            sawVersion = true;
        } else if (Is(argument, "--headless", "-H")) {
            sawHeadless = true;
        } else if (Is(argument, "--reload")) {
            sawReload = true;
        } else if (IsServiceOption(argument)) {
            options->mode = ProgramMode::Service;
            return ParseServiceOptions(argc, argv, &options->service, error);
        } else {
            *error = std::string("unknown option: ") + argument;
            return false;
        }
    }
    if (sawHelp) {
        options->mode = ProgramMode::Help;
        return true;
    }
    if (sawVersion) {
        options->mode = ProgramMode::Version;
        return true;
    }
    if (int{sawSend} + int{sawStatus} + int{sawReload} + int{sawTail} > 1) {
        *error = "--send, --status, --reload and --tail cannot be combined";
        return false;
    }
    if (sawHeadless && (sawSend || sawStatus || sawReload || sawTail)) {
        *error = "--headless is the manager; --send, --status, --reload and --tail talk to one";
        return false;
    }
    if (sawFollow && !sawTail) {
        *error = "--follow goes with --tail";
        return false;
    }
    options->tail.follow = sawFollow;
    if (options->json && !sawStatus) {
        *error = "--json goes with --status";
        return false;
    }
    if (sawHeadless)
        options->mode = ProgramMode::Headless;
    else if (sawSend)
        options->mode = ProgramMode::Send;
    else if (sawStatus)
        options->mode = ProgramMode::Status;
    else if (sawReload)
        options->mode = ProgramMode::Reload;
    else if (sawTail)
        options->mode = ProgramMode::Tail;
    return true;
}

std::string VersionLine() {
    return std::string("zelkappmgr ") + ZELK_VERSION;
}

std::string UsageText() {
    return VersionLine() + "\n" +
           "Usage: zelkappmgr [option]\n"
           "Without an option, supervises the applications of zelkappmgr.ini in the\n"
           "working directory.\n"
           "  -H, --headless     the same without a console, for a service manager or a\n"
           "                     container: the log on standard output, SIGTERM stops\n"
           "                     every application and ends the manager\n"
           "The other options talk to the manager running for this user:\n"
           "  -s, --send LINE    runs LINE as if typed on the manager's console and\n"
           "                     prints the log entries it wrote\n"
           "      --status       prints the applications and their state\n"
           "      --status --json  the same as a JSON array\n"
           "      --reload       makes the manager read zelkappmgr.ini again and prints\n"
           "                     the log entries it wrote\n"
           "      --tail NAME [N]  prints the last N lines (10) of the application's\n"
           "                     captured output (OutputDirectory)\n"
           "  -f, --follow       with --tail: then prints each new line, until\n"
           "                     interrupted or the manager ends\n"
           "Starting at boot:\n"
           "      --install-service [NAME]  (Windows) registers the service NAME (default\n"
           "                     ZelkAppMgr) that runs the manager headless at boot, for\n"
           "                     zelkappmgr.ini in the working directory\n"
           "      --uninstall-service [NAME]  (Windows) stops and removes it\n"
           "      --service --dir DIR  (Windows) the service's entry, for the service\n"
           "                     control manager\n"
           "      --print-service  (Linux) prints a systemd unit for the working directory\n"
           "                     and this user\n"
           "  -h, --help         prints this text\n"
           "  -V, --version      prints the version\n"
           "      --capture ...  (started by the manager to keep an application's output)\n"
           "Exit codes: 0 done, 1 no manager running or the request was refused,\n"
           "2 the command line was not understood.\n";
}
