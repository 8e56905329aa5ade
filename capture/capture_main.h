// The capture process: the program run with --capture by the manager, beside
// an application. It reads the application's output from its standard input
// (a pipe) and writes it to the application's output file, until every
// writer has closed the pipe.
#pragma once

#include "capture/capture_arguments.h"

// Returns the process's exit code: 0.
int CaptureMain(const CaptureSettings& settings);
