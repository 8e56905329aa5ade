// Output capture, the manager's side: each application's standard output and
// error go through a pipe to a capture process of their own (a copy of this
// program in a mode of its own), which writes them to
// <OutputDirectory>/<name>.log and rotates that file. The manager starts the
// capture process with the application, keeps the pipe's read end while it
// runs and replaces a capture process that was killed (capture_watch.h); it
// never sees the output.
#pragma once

#include "capture/output_directory.h"
#include "config/settings.h"
#include "port/file.h"
#include "supervisor/app_entry.h"

#include <cstdint>
#include <string>
#include <string_view>

// An application in the table (and not removed) whose output goes to the
// file that the output of `settings` would go to; null when there is none
// (or its output is not captured).
const AppEntry* SharedOutputFile(const AppSettings& settings);

// At a reload, for an application already in the table: when one before it
// in the table (and not removed) writes to the file its output would go to,
// its output is not captured, and that is said.
void KeepOutputApart(AppEntry& entry);

// Starts the capture process for the entry's application. Returns the write
// end of its pipe, for the application's output; null when the output is not
// captured, after saying why when it should have been.
port::UniqueFile StartOutputCapture(AppEntry& entry);
