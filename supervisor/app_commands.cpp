#include "supervisor/app_commands.h"

#include "common/text.h"
#include "console/arg_reader.h"
#include "console/console.h"
#include "supervisor/app_entry.h"
#include "supervisor/capture.h"
#include "supervisor/retry_starts.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char kRule[] = "========================================";

// The entry the next argument names: a number when it begins with a digit
// (read like atoi, so "1x" is 1), else a display name; null after saying
// there is none. A word never stands for 0.
AppEntry* ReadEntry(ArgReader* args) {
    const char* token = args->NextToken();
    AppEntry* entry = nullptr;
    if (token != nullptr && token[0] >= '0' && token[0] <= '9') {
        const int index = ParseLeadingInt(token);
        if (index < appTable.count && !appTable.entries[index]->removed)
            entry = appTable.entries[index];
    } else if (token != nullptr) {
        entry = FindApplication(token);
    }
    if (entry == nullptr)
        PrintMessage("Application does not exist.");
    return entry;
}

const char* StateMark(const AppEntry& entry) {
    if (entry.removed)
        return "[REMOVED]";
    if (entry.IsRunning())
        return "";
    if (entry.IsStopping())
        return "[STOPPING]";
    if (entry.IsWaiting())
        return "[WAITING]";
    return entry.GaveUp() ? "[GAVE UP]" : "[STOPPED]";
}

// "stop" of one entry: a stopping one ends at once, a stopped one forgets a
// pending start attempt.
void StopEntry(AppEntry& entry, bool sayWhenStopped) {
    if (entry.IsStopping()) {
        PrintMessage("Terminating process %s.", entry.name.c_str());
        entry.startWhenStopped = false;
        entry.EndStopNow();
    } else if (entry.IsRunning()) {
        entry.Stop();
    } else if (entry.IsWaiting()) {
        ResetBackoff(entry.backoff);
        PrintMessage("Will not restart %s.", entry.name.c_str());
    } else if (CancelRetry(entry.retry)) {
        PrintMessage("Will not try to start %s again.", entry.name.c_str());
    } else if (sayWhenStopped) {
        PrintMessage("Application already stopped.");
    }
}

// "restart" of one entry that runs or is stopping: started again once its
// tree has ended, at once when the stop ended it at once.
void RestartEntry(AppEntry& entry) {
    if (entry.IsRunning())
        entry.Stop();
    if (entry.IsStopping()) {
        ResetBackoff(entry.backoff);
        entry.startWhenStopped = true;
    } else {
        entry.StartByOperator();
    }
}

} // namespace

void ListCommand(ArgReader*) {
    PrintMessage("%s", "");
    PrintMessage("%s", kRule);
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry* entry = appTable.entries[i];
        PrintMessage("%4d: %s %s", i, entry->name.c_str(), StateMark(*entry));
    }
    PrintMessage("%s", kRule);
    PrintMessage("%s", "");
}

void StartCommand(ArgReader* args) {
    AppEntry* entry = ReadEntry(args);
    if (entry == nullptr)
        return;
    if (entry->IsStopping()) {
        PrintMessage("%s is still stopping.", entry->name.c_str());
        return;
    }
    if (entry->IsRunning()) {
        PrintMessage("Application already started.");
        return;
    }
    entry->StartByOperator();
}

void StopCommand(ArgReader* args) {
    if (AppEntry* entry = ReadEntry(args))
        StopEntry(*entry, true);
}

void RestartCommand(ArgReader* args) {
    AppEntry* entry = ReadEntry(args);
    if (entry == nullptr)
        return;
    if (!entry->process)
        PrintMessage("Application is not running, starting it.");
    RestartEntry(*entry);
}

void StartAllCommand(ArgReader*) {
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry* entry = appTable.entries[i];
        if (entry->removed)
            continue;
        if (entry->IsStopping())
            PrintMessage("%s is still stopping.", entry->name.c_str());
        else if (!entry->IsRunning())
            entry->StartByOperator();
    }
}

// With stop time limits, every tree is asked to end before any is waited
// for: the stops run side by side.
void StopAllCommand(ArgReader*) {
    for (int i = 0; i < appTable.count; ++i)
        StopEntry(*appTable.entries[i], false);
}

void RestartAllCommand(ArgReader*) {
    for (int i = 0; i < appTable.count; ++i)
        if (!appTable.entries[i]->removed)
            RestartEntry(*appTable.entries[i]);
}

void TailCommand(ArgReader* args) {
    if (OutputDirectory.empty()) {
        PrintMessage("Output is not captured.");
        return;
    }
    AppEntry* entry = ReadEntry(args);
    if (entry == nullptr)
        return;
    constexpr int kDefaultLines = 10;
    constexpr int kMostLines = 100;
    int count = args->NextIndex();
    count = count < 0 ? kDefaultLines : std::min(std::max(count, 1), kMostLines);
    std::vector<std::string> lines;
    if (!ReadLastOutputLines(entry->name, static_cast<std::size_t>(count), &lines)) {
        PrintMessage("No output of %s yet.", entry->name.c_str());
        return;
    }
    // Each line an entry of its own, cut where an entry ends.
    for (const std::string& line : lines)
        PrintMessage("%s", line.c_str());
}

AppEntry* FindApplication(std::string_view name) {
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry* entry = appTable.entries[i];
        if (!entry->removed && AsciiEqualNoCase(std::string_view(entry->name), name))
            return entry;
    }
    return nullptr;
}

void RestartApplication(AppEntry& entry) {
    RestartEntry(entry);
}

void RemoveApplication(AppEntry& entry) {
    entry.removed = true;
    entry.startWhenStopped = false;
    ResetBackoff(entry.backoff);
    CancelRetry(entry.retry);
    if (entry.IsRunning())
        entry.Stop();
}

void EndPendingStops() {
    for (int i = 0; i < appTable.count; ++i)
        appTable.entries[i]->EndStopNow();
}

void StopEverything() {
    ShutdownUnderWay = true;
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry& entry = *appTable.entries[i];
        ResetBackoff(entry.backoff);
        CancelRetry(entry.retry);
        entry.startWhenStopped = false;
        if (entry.IsRunning())
            entry.Stop();
    }
}

bool AnyStopping() {
    for (int i = 0; i < appTable.count; ++i)
        if (appTable.entries[i]->IsStopping())
            return true;
    return false;
}
