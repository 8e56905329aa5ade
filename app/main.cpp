#include "app/options.h"
#include "app/service_mode.h"
#include "app/startup.h"
#include "capture/capture_main.h"
#include "control/control_client.h"

#include <cstdio>

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "zelkappmgr: %s (see --help)\n", error.c_str());
        return kUsageExitCode;
    }
    switch (options.mode) {
    case ProgramMode::Help:
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    case ProgramMode::Version:
        std::printf("%s\n", VersionLine().c_str());
        return 0;
    case ProgramMode::Send:
        return ClientMain({ClientRequest::Kind::Send, options.line, false});
    case ProgramMode::Status:
        return ClientMain({ClientRequest::Kind::Status, "", options.json});
    case ProgramMode::Reload:
        return ClientMain({ClientRequest::Kind::Reload, "", false});
    case ProgramMode::Capture:
        return CaptureMain(options.capture);
    case ProgramMode::Service:
        return ServiceOptionMain(options.service);
    case ProgramMode::Manager:
    case ProgramMode::Headless:
        break;
    }
    return ManagerMain(options.mode == ProgramMode::Headless);
}
