#include "supervisor/exit_report.h"

#include "console/console.h"
#include "port/process.h"
#include "supervisor/app_entry.h"

bool ReportExitsFlag = false;

namespace {

// Exit codes from here on are status codes (0xC0000005 for an access
// violation), which read best in hexadecimal.
constexpr std::uint32_t kStatusCodeFloor = 0x80000000u;

} // namespace

void ReportExit(const AppEntry& entry) {
    const char* name = entry.name.c_str();
    const port::ExitStatus& status = entry.lastExit;
    if (!entry.lastExitKnown) {
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
    if (status.value >= kStatusCodeFloor) {
        PrintMessage("%s exited with code 0x%08X.", name, static_cast<unsigned>(status.value));
        return;
    }
    PrintMessage("%s exited with code %d.", name, static_cast<int>(status.value));
}
