// The manager without a console (--headless): for a service manager such as
// systemd or for a container. The log goes to standard output; a request to
// end (SIGTERM, SIGINT; Ctrl+C, Ctrl+Break or the console's close on
// Windows) stops every application and ends the manager with exit code 0;
// orphans handed to it are reaped; systemd hears when it is ready and when
// it stops.
#pragma once

#include <cstdint>

// Before the applications start: the log on standard output, the rows that
// wait for requests to end and for ended orphans.
void BeginHeadless();

// Whether the service manager was told READY=1, as far as start-up has come.
enum class ReadyReport : std::uint8_t {
    StartUp, // start-up is under way
    Waiting, // start-up is over; an application is not ready yet
    Sent,    // READY=1 was sent
};

// Tells the service manager READY=1 once start-up has started or attached
// to every application and each is ready (or down for good: see
// StartUpSettled); called at the end of start-up, and from then on at every
// change of state until it is said. Never once a request to end has begun
// the shutdown (STOPPING=1 was said).
void ReportReadyOnceSettled(ReadyReport& report);

struct AppEntry;
enum class AppState : std::uint8_t;

// The state change hook of a headless manager (`context`: its ReadyReport):
// the start order goes on, and READY=1 is sent once start-up has settled.
void OnHeadlessStateChange(AppEntry& entry, AppState before, void* context);
