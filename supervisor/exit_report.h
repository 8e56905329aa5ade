// Saying how an application ended on its own, before it is started again.
#pragma once

#include "port/process.h"

// Writes how the process of the application `name` ended: its exit code, or
// the signal that ended it; only that it ended when the status is not
// `known`.
void ReportExit(const char* name, bool known, const port::ExitStatus& status);
