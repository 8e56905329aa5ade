#include "app/options.h"

#include <cstdlib>
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
    if (argc == 2 + kCaptureArguments && Is(argv[1], "--capture")) {
        // Given by the manager itself, in this order.
        CaptureSettings& capture = options->capture;
        capture.path = argv[2];
        capture.maxBytes = std::strtoull(argv[3], nullptr, 10);
        capture.backups = static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10));
        capture.timestamps = Is(argv[5], "1");
        options->mode = ProgramMode::Capture;
        return !capture.path.empty();
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
        } else if (Is(argument, "--status")) {
            sawStatus = true;
        } else if (Is(argument, "--json")) {
            options->json = true;
        } else if (Is(argument, "--help", "-h")) {
            sawHelp = true;
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
    if (int{sawSend} + int{sawStatus} + int{sawReload} > 1) {
        *error = "--send, --status and --reload cannot be combined";
        return false;
    }
    if (sawHeadless && (sawSend || sawStatus || sawReload)) {
        *error = "--headless is the manager; --send, --status and --reload talk to one";
        return false;
    }
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
    return true;
}

const char* UsageText() {
    return "Usage: zelkappmgr [option]\n"
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
           "      --capture ...  (started by the manager to keep an application's output)\n"
           "Exit codes: 0 done, 1 no manager running or the request was refused,\n"
           "2 the command line was not understood.\n";
}
