// Whether a started application is ready, by its [Ready] rule: a TCP
// connection to its port, tried without waiting every kReadyProbeMs; an
// HTTP GET answered with a 2xx or 3xx status; a delay
// after the launch; a line of its output (its capture process tells the
// manager through the control channel); or READY=1 from a process of its
// tree on the manager's notify socket. All within its [ReadyTimeout].
#pragma once

#include "supervisor/app_entry.h"

#include <string>
#include <vector>

struct NotifySocket;

// How often a connection to the port of a [Ready] rule is tried.
inline constexpr std::uint32_t kReadyProbeMs = 100;
// How often a GET of an http:// rule starts, at most: one at a time, each
// within kHttpLimitMostMs.
inline constexpr std::uint32_t kReadyHttpMs = 250;

// Watches the entry's rule from now on: report(entry, AppEvent::Ready) once
// it is met, report(entry, AppEvent::ReadyTimedOut) at its time limit. A
// watch under way is replaced.
void BeginReadinessWatch(AppEntry& entry, WatchReport report);

// Ends the watch, if one is under way.
void EndReadinessWatch(AppEntry& entry);

// For an application whose rule is "notify": the variable NOTIFY_SOCKET=...
// naming the manager's notify socket `notify`, which is opened the first
// time it is asked for. Empty for any other rule, or when the socket cannot
// be made (said once). A message from a process of the tree of an
// application with the rule is heard for that application.
std::string NotifySocketVariable(NotifySocket& notify, const AppEntry& entry);
