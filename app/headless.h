// The manager without a console (--headless): for a service manager such as
// systemd or for a container. The log goes to standard output; a request to
// end (SIGTERM, SIGINT; Ctrl+C, Ctrl+Break or the console's close on
// Windows) stops every application and ends the manager with exit code 0;
// orphans handed to it are reaped; systemd hears when it is ready and when
// it stops.
#pragma once

// Before the applications start: the log on standard output, the rows that
// wait for requests to end and for ended orphans.
void BeginHeadless();

// Once start-up has started or attached to every application.
void ReportReady();
