// Test hooks of the POSIX back end, built into the back-end tests only: they
// reach into the back end's internal state, which the program never does.
#pragma once

#include <cstddef>

namespace port {
class ScreenGrid;
}

namespace port::posix {

// Points the console functions at `input` and `output` (a terminal, such as
// a pty's slave side) as if they were standard input and output: the console
// state starts afresh, with close-on-exec duplicates of the two descriptors
// as its handles and the size the terminal reports.
void AttachConsoleForTesting(int input, int output);

// Restores the terminal as at exit, closes the console handles and forgets
// the console; the next console call looks at descriptors 0 and 1 again.
void DetachConsoleForTesting();

// The cell grid the terminal mirrors.
const ScreenGrid& ConsoleGridForTesting();

// Descriptors of ended or ending children kept for reaping.
std::size_t PendingReapsForTesting();

} // namespace port::posix
