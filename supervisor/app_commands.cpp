#include "supervisor/app_commands.h"

#include "common/text.h"
#include "console/arg_reader.h"
#include "console/command_table.h"
#include "console/console.h"
#include "port/process.h"
#include "supervisor/app_events.h"
#include "supervisor/app_order.h"
#include "supervisor/app_table.h"
#include "supervisor/supervision.h"

#include <string>
#include <string_view>

namespace {

const char kRule[] = "========================================";

// A process of it is held: it runs, or its stop is under way.
bool HasProcess(const AppEntry& entry) {
    return IsUp(entry) || IsStopping(entry.state);
}

void NoteAsked(const AppEntry& entry, bool restart) {
    supervision.asked.push_back(AskedOperation{entry.serial, restart});
}

// An operator's own command on an application takes it out of an ordered
// restart under way: what it was told last holds.
void LeaveOrderedRestart(const AppEntry& entry) {
    std::erase(supervision.orderedStop.restarting, entry.serial);
}

// Every application that is not removed, as asked by "stopall" or
// "restartall".
void NoteAllAsked(bool restart) {
    for (int i = 0; i < appTable.count; ++i)
        if (!IsRemoved(appTable.entries[i]->state))
            NoteAsked(*appTable.entries[i], restart);
}

} // namespace

AppEntry* ReadApplication(ArgReader* args) {
    const char* token = args->NextToken();
    AppEntry* entry = nullptr;
    if (token != nullptr && token[0] >= '0' && token[0] <= '9') {
        const int index = ParseLeadingInt(token);
        if (index < appTable.count && !IsRemoved(appTable.entries[index]->state))
            entry = appTable.entries[index];
    } else if (token != nullptr) {
        entry = FindApplication(token);
    }
    if (entry == nullptr) {
        PrintMessage("Application does not exist.");
        FailCommand();
    }
    return entry;
}

void ListCommand(ArgReader*) {
    PrintMessage("%s", "");
    PrintMessage("%s", kRule);
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry* entry = appTable.entries[i];
        PrintMessage("%4d: %s %s", i, entry->settings.name.c_str(), StateMark(entry->state));
    }
    PrintMessage("%s", kRule);
    PrintMessage("%s", "");
}

void StartCommand(ArgReader* args) {
    AppEntry* entry = ReadApplication(args);
    if (entry == nullptr)
        return;
    if (IsStopping(entry->state))
        PrintMessage("%s is still stopping.", entry->settings.name.c_str());
    else if (IsUp(*entry))
        PrintMessage("Application already started.");
    else {
        LeaveOrderedRestart(*entry);
        DispatchAtOnce(*entry, AppEvent::StartAsked);
    }
}

void StopCommand(ArgReader* args) {
    AppEntry* entry = ReadApplication(args);
    if (entry == nullptr)
        return;
    if (entry->state == AppState::Stopped || entry->state == AppState::GaveUp ||
        entry->state == AppState::Failed)
        PrintMessage("Application already stopped.");
    NoteAsked(*entry, false);
    LeaveOrderedRestart(*entry);
    Dispatch(*entry, AppEvent::StopAsked);
}

void RestartCommand(ArgReader* args) {
    AppEntry* entry = ReadApplication(args);
    if (entry == nullptr)
        return;
    if (!HasProcess(*entry))
        PrintMessage("Application is not running, starting it.");
    NoteAsked(*entry, true);
    LeaveOrderedRestart(*entry);
    DispatchAtOnce(*entry, AppEvent::RestartAsked);
}

// In start order (table order without one): each starts once what it
// starts after is ready.
void StartAllCommand(ArgReader*) {
    for (AppEntry* entry : StartSequence()) {
        if (IsStopping(entry->state))
            PrintMessage("%s is still stopping.", entry->settings.name.c_str());
        else if (!IsUp(*entry)) {
            LeaveOrderedRestart(*entry);
            DispatchInOrder(*entry, AppEvent::StartAsked);
        }
    }
}

// With stop time limits, every tree is asked to end before any is waited
// for: the stops run side by side. A removed application's stop under way
// ends at once, as a second "stop" would end it. With a start order, one
// that others start after is asked only once they have stopped; a
// "stopall" while stops are under way asks every one at once.
void StopAllCommand(ArgReader*) {
    NoteAllAsked(false);
    supervision.orderedStop.restarting.clear();
    if (AnyStartOrder() && !AnyStopping()) {
        StopInOrder(AppEvent::StopAsked);
        return;
    }
    for (int i = 0; i < appTable.count; ++i)
        Dispatch(*appTable.entries[i], AppEvent::StopAsked);
}

// With a start order, the applications stop as "stopall" stops them
// (dependents first) and, once the last has stopped, start in start order.
// Without one (or while stops are under way) each restarts by itself.
void RestartAllCommand(ArgReader*) {
    NoteAllAsked(true);
    if (AnyStartOrder() && !AnyStopping()) {
        RestartInOrder();
        return;
    }
    for (AppEntry* entry : StartSequence())
        DispatchInOrder(*entry, AppEvent::RestartAsked);
}

void SignalCommand(ArgReader* args) {
    int number = 0;
    if (!port::SignalNumber("TERM", &number)) {
        PrintMessage("Signals are not supported on Windows.");
        FailCommand();
        return;
    }
    AppEntry* entry = ReadApplication(args);
    if (entry == nullptr)
        return;
    const std::string name = args->HasToken() ? args->NextToken() : "";
    if (!port::SignalNumber(name.c_str(), &number)) {
        PrintMessage("Usage: signal N NAME (TERM, INT, QUIT, HUP, USR1, USR2, WINCH, KILL, STOP "
                     "or CONT)");
        FailCommand();
        return;
    }
    const char* app = entry->settings.name.c_str();
    if (!HasProcess(*entry)) {
        PrintMessage("%s is not running.", app);
        FailCommand();
        return;
    }
    if (!port::SendSignal(entry->process.Get(), number)) {
        PrintMessage("Could not signal %s. Error: %d.", app, static_cast<int>(port::LastError()));
        FailCommand();
        return;
    }
    std::string shown =
        AsciiEqualNoCase(std::string_view(name).substr(0, 3), "SIG") ? name.substr(3) : name;
    for (char& c : shown)
        c = AsciiUpper(c);
    PrintMessage("Sent SIG%s to %s.", shown.c_str(), app);
}

void EndPendingStops() {
    ReleaseWaitingStops();
    for (int i = 0; i < appTable.count; ++i)
        Dispatch(*appTable.entries[i], AppEvent::EndNow);
}

void LeaveStopsToFinish() {
    // Stops that wait for their turn are dropped: those applications run on.
    ReleaseWaitingStops();
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        if (IsStopping(entry.state) && entry.state != AppState::Relaunching)
            PrintMessage("%s is still stopping; it is left to end on its own.",
                         entry.settings.name.c_str());
    }
}

void StopEverything() {
    supervision.shutdown = true;
    supervision.orderedStop.restarting.clear();
    if (AnyStartOrder()) {
        StopInOrder(AppEvent::Shutdown);
        return;
    }
    for (int i = 0; i < appTable.count; ++i)
        Dispatch(*appTable.entries[i], AppEvent::Shutdown);
}

bool AnyStopping() {
    for (int i = 0; i < appTable.count; ++i)
        if (IsStopping(appTable.entries[i]->state))
            return true;
    return AnyWaitingStop();
}
