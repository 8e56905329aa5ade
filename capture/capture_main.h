// The capture process: the program run with --capture by the manager, beside
// an application. It reads the application's output from its standard input
// (a pipe) and writes it to the application's output file, until every
// writer has closed the pipe.
#pragma once

#include "capture/capture_arguments.h"

// Returns the process's exit code: 0 at the end of the output, 1 when the
// pipe could not be read.
int CaptureMain(const CaptureSettings& settings);
