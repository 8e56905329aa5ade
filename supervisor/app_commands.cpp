#include "supervisor/app_commands.h"

#include "console/arg_reader.h"
#include "console/console.h"
#include "supervisor/app_entry.h"
#include "supervisor/retry_starts.h"

namespace {

const char kRule[] = "========================================";

// The entry the next argument names, or null after saying there is none.
AppEntry* ReadEntry(ArgReader* args) {
    int index = args->NextIndex();
    if (index < 0 || index >= appTable.count) {
        PrintMessage("Application does not exist.");
        return nullptr;
    }
    return appTable.entries[index];
}

} // namespace

void ListCommand(ArgReader*) {
    PrintMessage("%s", "");
    PrintMessage("%s", kRule);
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry* entry = appTable.entries[i];
        PrintMessage("%4d: %s %s", i, entry->name.c_str(), entry->IsRunning() ? "" : "[STOPPED]");
    }
    PrintMessage("%s", kRule);
    PrintMessage("%s", "");
}

void StartCommand(ArgReader* args) {
    AppEntry* entry = ReadEntry(args);
    if (entry == nullptr)
        return;
    if (entry->IsRunning()) {
        PrintMessage("Application already started.");
        return;
    }
    entry->Launch();
}

void StopCommand(ArgReader* args) {
    AppEntry* entry = ReadEntry(args);
    if (entry == nullptr)
        return;
    if (!entry->IsRunning()) {
        if (CancelRetry(entry->retry))
            PrintMessage("Will not try to start %s again.", entry->name.c_str());
        else
            PrintMessage("Application already stopped.");
        return;
    }
    entry->Stop();
}

void RestartCommand(ArgReader* args) {
    AppEntry* entry = ReadEntry(args);
    if (entry == nullptr)
        return;
    if (entry->IsRunning())
        entry->Stop();
    else
        PrintMessage("Application is not running, starting it.");
    entry->Launch();
}

void StartAllCommand(ArgReader*) {
    for (int i = 0; i < appTable.count; ++i)
        if (!appTable.entries[i]->IsRunning())
            appTable.entries[i]->Launch();
}

void StopAllCommand(ArgReader*) {
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry* entry = appTable.entries[i];
        if (entry->IsRunning())
            entry->Stop();
        else if (CancelRetry(entry->retry))
            PrintMessage("Will not try to start %s again.", entry->name.c_str());
    }
}

void RestartAllCommand(ArgReader*) {
    for (int i = 0; i < appTable.count; ++i) {
        AppEntry* entry = appTable.entries[i];
        if (entry->IsRunning())
            entry->Stop();
        entry->Launch();
    }
}
