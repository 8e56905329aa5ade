// What the POSIX console does in signal handlers: restoring the terminal when
// the program ends (at exit, on SIGTERM, SIGHUP and SIGINT, and when the
// terminal goes away), and noting a change of the terminal's size (SIGWINCH)
// so that the console input handle becomes signalled.
//
// Everything here is plain, constant-initialised data: the handlers may run
// at any time, also before or after the objects with constructors live.
#pragma once

#include <csignal>
#include <cstddef>
#include <termios.h>

namespace port::posix {

// --- restoring the terminal ---------------------------------------------------

// Saves the mode of `terminal` the first time it is called (later calls
// keep the first saved mode). False, with errno set, when it cannot be read.
bool SaveTerminalMode(int terminal);
// The saved mode, or null before SaveTerminalMode succeeded.
const struct termios* SavedTerminalMode();

// From now on the terminal is restored when the program ends: the saved mode
// (if any) on `terminal`, and on `output` default attributes, no scroll
// region, the default cursor shape, the cursor shown on a blanked row
// `lastRow` (counted from 1). Arming twice changes nothing.
void ArmTerminalRestore(int terminal, int output, int lastRow);
bool TerminalRestoreArmed();
// The terminal's size changed: the cursor is left on row `lastRow` instead.
void SetRestoreRow(int lastRow);

// Restores the terminal now, once; later calls do nothing until armed again.
void RestoreTerminal();

// What restoring the terminal takes, readable from a signal handler: filled
// in before `armed` is set.
struct RestoreData {
    volatile std::sig_atomic_t armed;
    int terminal;     // descriptor for tcsetattr, or -1
    bool haveTermios; // `saved` holds the mode to restore
    struct termios saved;
    int output; // descriptor for the restore sequence
    char sequence[96];
    std::size_t length;
};

extern RestoreData restoreData;

// The terminal is gone (end of file or EIO): restore and end as a hang-up.
[[noreturn]] void TerminalGone();

// --- size changes --------------------------------------------------------------

// Installs the SIGWINCH handler, once. From then on a size change sets a flag
// and makes SizeChangeFd() readable. False when it could not be installed.
bool WatchSizeChanges();
// The descriptor that is readable after a size change (for poll), or -1.
int SizeChangeFd();
// True when a size change was signalled and not yet taken.
bool SizeChangePending();
// Takes the pending size change (true when there was one) and empties the
// descriptor.
bool TakeSizeChange();

} // namespace port::posix
