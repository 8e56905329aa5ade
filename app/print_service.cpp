#include "app/print_service.h"

#include "app/service_start_time.h"
#include "app/service_stop_time.h"
#include "app/systemd_unit.h"
#include "config/settings.h"
#include "port/service_control.h"

#include <cstdio>
#include <cstdlib>

int PrintServiceMain() {
    UnitFacts facts;
    facts.program = port::OwnExecutablePath();
    facts.directory = port::CurrentDirectory();
    if (facts.program.empty() || facts.directory.empty()) {
        std::fputs("zelkappmgr: cannot read this program's path or the working directory\n",
                   stderr);
        return 1;
    }
    if (!port::IsSuperUser())
        facts.user = port::CurrentUserName();
    if (const char* runtime = std::getenv("ZELKAPPMGR_RUNTIME_DIR"))
        facts.runtimeDirectory = runtime;
    Settings settings;
    if (!ReadSettings(kConfigFileName, &settings))
        std::fprintf(stderr, "zelkappmgr: note: there is no %s in %s yet\n", kConfigFileName,
                     facts.directory.c_str());
    facts.longestReadySeconds = LongestReadySeconds(settings);
    facts.startSeconds = ServiceStartSeconds(facts.longestReadySeconds);
    facts.longestStopSeconds = LongestStopSeconds(settings);
    facts.stopSeconds = ServiceStopSeconds(facts.longestStopSeconds);
    std::string unit;
    std::string problem;
    if (!WriteSystemdUnit(facts, &unit, &problem)) {
        std::fprintf(stderr, "zelkappmgr: %s\n", problem.c_str());
        return 1;
    }
    std::fputs(unit.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
