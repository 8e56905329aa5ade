// Starting the manager at boot. On Windows it is a service of the service
// control manager: installed and removed here, and run through the service
// dispatcher, which hears "stop" and "shutdown" and is told the service's
// state. Linux has no such manager in the system's interface: there a systemd
// unit starts the program headless, and the unit names this program's path,
// the directory it works in and the user it runs as.
#pragma once

#include <cstdint>
#include <string>

namespace port {

// True where the system has a service control manager (Windows).
bool HasServiceControlManager();

// Registers this program (its full path, quoted where needed) as the service
// `name`, shown as `displayName` and described as `description`, started
// automatically at boot as LocalSystem, with `arguments` (ending in a null)
// after the path on its command line. False, with LastError(), on failure
// (say without administrator rights, or when the name is taken).
bool InstallService(const char* name, const char* displayName, const char* description,
                    const char* const* arguments);

// What removing a service had to do about its run.
enum class ServiceStop {
    NotRunning,    // it was stopped already
    Stopped,       // it was asked to stop and has stopped
    StillStopping, // it was asked to stop and stops no more: it goes once it has
};

// Asks the service `name` to stop when it runs and waits while it reports
// progress within its wait hints, then marks it for removal (the system removes
// it once it has stopped). False, with LastError(), when it cannot be removed.
bool UninstallService(const char* name, ServiceStop* stop);

// Runs `body(context)` as the service this process was started for by the
// service control manager: this thread becomes the dispatcher that serves
// the manager's controls, the body runs on the thread the dispatcher starts
// for it. The service is reported start pending until
// NotifyServiceManager("READY=1") (running), stop pending from "stop" or
// "shutdown" (which also signal the handle of WatchShutdownRequests) or
// "STOPPING=1", and stopped once the body has returned, with its result as
// the service's exit code, also in *exitCode. False, at once and with
// LastError(), when the service control manager did not start this process
// (and where there is none).
bool RunAsService(int (*body)(void*), void* context, int* exitCode);

// The time the service asks for, in its stop pending reports, to end (the
// longest stop time limit of its configuration and a margin).
void SetServiceStopWaitHint(std::uint32_t milliseconds);

// Whether the control endpoints opened from now on admit the local
// Administrators group beside this process's user: for a service, whose
// account (LocalSystem) is not that of the administrators who control it.
// Nothing on POSIX, whose endpoint is this user's.
void AdmitAdministratorsToControl(bool admit);

// The full path of this program's executable; empty when it cannot be read.
std::string OwnExecutablePath();

// The working directory, as an absolute path; empty when it cannot be read.
std::string CurrentDirectory();

// Makes `path` the working directory. False, with LastError(), on failure.
bool ChangeDirectory(const char* path);

// The name of the user this process runs as; on POSIX its number when the
// user database has no name for it. Empty when it cannot be read.
std::string CurrentUserName();

// True when this process runs as the system's superuser (root); false on
// Windows, where the question is not asked.
bool IsSuperUser();

} // namespace port
