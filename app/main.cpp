#include "app/options.h"
#include "app/service_mode.h"
#include "app/startup.h"
#include "capture/capture_main.h"
#include "control/control_client.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Writes `text` to standard output. Returns the exit code: 0, or 1 when it
// was not written whole (a full disk, a closed file).
int WriteOut(const std::string& text) {
    if (std::fputs(text.c_str(), stdout) != EOF && std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "zelkappmgr: cannot write to standard output: %s\n", std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "zelkappmgr: %s (see --help)\n", error.c_str());
        return kUsageExitCode;
    }
    switch (options.mode) {
    case ProgramMode::Help:
        return WriteOut(UsageText());
    case ProgramMode::Version:
        return WriteOut(VersionLine() + "\n");
    case ProgramMode::Send:
        return ClientMain({ClientRequest::Kind::Send, options.line, false});
    case ProgramMode::Status:
        return ClientMain({ClientRequest::Kind::Status, "", options.json});
    case ProgramMode::Reload:
        return ClientMain({ClientRequest::Kind::Reload, "", false});
    case ProgramMode::Tail:
        return TailMain(options.tail);
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
