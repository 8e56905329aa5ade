// The options that start the manager at boot (see service_options.h): on
// Windows installing and removing the service and running as it; on Linux
// printing a systemd unit. Each is refused on the other system.
#pragma once

#include "app/service_options.h"

// Runs the option; returns the exit code: 0 done, 1 the system refused (its
// message on standard error), kUsageExitCode for an option of the other
// system.
int ServiceOptionMain(const ServiceOptions& options);
