#include "app/service_mode.h"

#include "app/options.h"
#include "app/print_service.h"
#include "app/service_options.h"
#include "app/service_stop_time.h"
#include "app/startup.h"
#include "config/settings.h"
#include "port/process.h"
#include "port/service_control.h"
#include "port/system.h"

#include <cstdio>
#include <string>

namespace {

// The last error of the port, as the system says it.
void PrintFailure(const char* what, const std::string& name) {
    const std::uint32_t error = port::LastError();
    std::fprintf(stderr, "zelkappmgr: could not %s the service %s. Error %u: %s\n", what,
                 name.c_str(), static_cast<unsigned>(error), port::ErrorText(error).c_str());
}

int Install(const std::string& name) {
    const std::string directory = port::CurrentDirectory();
    if (directory.empty()) {
        PrintFailure("install", name);
        return 1;
    }
    const std::string description = "Keeps the applications of " + directory +
                                    port::kPathSeparator + kConfigFileName + " running.";
    const char* const arguments[] = {"--service", "--dir", directory.c_str(), nullptr};
    if (!port::InstallService(name.c_str(), kWindowTitle, description.c_str(), arguments)) {
        PrintFailure("install", name);
        return 1;
    }
    std::printf("Installed the service %s (%s), started automatically at boot as LocalSystem,\n"
                "for %s in %s. Start it now with: sc start %s\n",
                name.c_str(), kWindowTitle, kConfigFileName, directory.c_str(), name.c_str());
    Settings settings;
    if (!ReadSettings(kConfigFileName, &settings))
        std::printf("Note: there is no %s in %s yet.\n", kConfigFileName, directory.c_str());
    else if (settings.general.logFile.empty())
        std::printf("Note: a service has no console; set LogFile in [General] to keep its log.\n");
    return 0;
}

int Uninstall(const std::string& name) {
    port::ServiceStop stop = port::ServiceStop::NotRunning;
    const bool removed = port::UninstallService(name.c_str(), &stop);
    if (stop == port::ServiceStop::Stopped)
        std::printf("Stopped the service %s.\n", name.c_str());
    else if (stop == port::ServiceStop::StillStopping)
        std::printf("The service %s did not stop in the time it asked for.\n", name.c_str());
    if (!removed) {
        PrintFailure("remove", name);
        return 1;
    }
    if (stop == port::ServiceStop::StillStopping)
        std::printf("Marked the service %s for removal: it goes once it has stopped.\n",
                    name.c_str());
    else
        std::printf("Removed the service %s.\n", name.c_str());
    return 0;
}

// The service's work, on the thread the service dispatcher gives it. The
// manager runs headless; with no console and no standard output, its log
// goes to the LogFile alone.
int ServiceBody(void* context) {
    const ServiceOptions& options = *static_cast<const ServiceOptions*>(context);
    if (!port::ChangeDirectory(options.directory.c_str()))
        return 1;
    {
        Settings settings;
        ReadSettings(kConfigFileName, &settings);
        port::SetServiceStopWaitHint(ServiceStopSeconds(LongestStopSeconds(settings)) * 1000);
    }
    port::AdmitAdministratorsToControl(true);
    return ManagerMain(true);
}

int RunService(const ServiceOptions& options) {
    int exitCode = 0;
    if (!port::RunAsService(ServiceBody, const_cast<ServiceOptions*>(&options), &exitCode)) {
        const std::uint32_t error = port::LastError();
        std::fprintf(stderr,
                     "zelkappmgr: --service is for the service control manager to start (see "
                     "--install-service). Error %u: %s\n",
                     static_cast<unsigned>(error), port::ErrorText(error).c_str());
        return 1;
    }
    return exitCode;
}

} // namespace

int ServiceOptionMain(const ServiceOptions& options) {
    const bool windows = port::HasServiceControlManager();
    if (options.action == ServiceAction::PrintUnit) {
        if (windows) {
            std::fputs("zelkappmgr: --print-service writes a systemd unit, for Linux; on Windows "
                       "--install-service registers the manager as a service\n",
                       stderr);
            return kUsageExitCode;
        }
        return PrintServiceMain();
    }
    if (!windows) {
        std::fprintf(stderr,
                     "zelkappmgr: %s is for Windows; on Linux --print-service writes a systemd "
                     "unit that runs the manager headless\n",
                     ServiceOptionName(options.action));
        return kUsageExitCode;
    }
    switch (options.action) {
    case ServiceAction::Install:
        return Install(options.name);
    case ServiceAction::Uninstall:
        return Uninstall(options.name);
    case ServiceAction::Run:
    case ServiceAction::PrintUnit:
        break;
    }
    return RunService(options);
}
