// The client end of the control channel: the program run with --send or
// --status, talking to the manager that runs for this user.
#pragma once

#include "app/options.h"

// Carries out a Send or Status run; returns the program's exit code: 0 done,
// 1 no manager or a refused request, 2 a command line that cannot be sent.
int ClientMain(const Options& options);
