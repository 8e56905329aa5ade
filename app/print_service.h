// --print-service: a systemd unit for the working directory and this user on
// standard output (see systemd_unit.h).
#pragma once

// Returns the exit code: 0 once the unit is printed, 1 when it cannot be
// written.
int PrintServiceMain();
