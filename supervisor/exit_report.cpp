#include "supervisor/exit_report.h"

#include "common/text.h"
#include "console/console.h"

void ReportExit(const char* name, bool known, const port::ExitStatus& status) {
    if (!known) {
        // A process we attached to but did not start (on POSIX) leaves us
        // no status to read: only the end itself is known.
        PrintMessage("%s ended.", name);
        return;
    }
    if (status.bySignal) {
        PrintMessage("%s was ended by signal %d (%s).", name, static_cast<int>(status.value),
                     status.signalName != nullptr ? status.signalName : "unknown");
        return;
    }
    PrintMessage("%s exited with code %s.", name, ExitCodeText(status.value).c_str());
}
