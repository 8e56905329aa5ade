#include "app/capture_process.h"
#include "app/control_client.h"
#include "app/options.h"
#include "app/service_mode.h"
#include "app/startup.h"

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
        std::fputs(UsageText(), stdout);
        return 0;
    case ProgramMode::Send:
    case ProgramMode::Status:
    case ProgramMode::Reload:
        return ClientMain(options);
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
