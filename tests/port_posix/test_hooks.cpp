#include "test_hooks.h"

#include "port/posix/backend.h"
#include "port/posix/terminal/console_state.h"
#include "port/posix/terminal/terminal_signals.h"

#include <unistd.h>

namespace port::posix {

void AttachConsoleForTesting(int input, int output) {
    DetachConsoleForTesting();
    OpenConsole(State(), input, output);
}

void DetachConsoleForTesting() {
    RestoreTerminal();
    restoreData.haveTermios = false;
    restoreData.terminal = -1;
    restoreData.output = -1;
    restoreData.length = 0;
    TakeSizeChange();
    ConsoleState& s = State();
    if (s.input >= 0)
        ::close(s.input);
    if (s.output >= 0)
        ::close(s.output);
    s.keys.Detach();
    s = ConsoleState{};
}

const ScreenGrid& ConsoleGridForTesting() {
    return State().grid;
}

std::size_t PendingReapsForTesting() {
    return PendingReaps();
}

} // namespace port::posix
