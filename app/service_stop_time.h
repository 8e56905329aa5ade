// How long a service manager (systemd, the Windows service control manager)
// should give the manager to stop: the longest stop time limit that
// zelkappmgr.ini asks for, and a margin for ending the trees that outlive it
// and for the manager's own end.
#pragma once

#include "config/settings.h"

#include <cstdint>

// Without any stop time limit the stop is at once; this is plenty.
inline constexpr std::uint32_t kDefaultServiceStopSeconds = 30;
inline constexpr std::uint32_t kServiceStopMarginSeconds = 15;

// The longest stop time limit of the applications ([StopTimeout], else
// [General] StopTimeout), in whole seconds (at most an hour); 0 without any.
std::uint32_t LongestStopSeconds(const Settings& settings);

// The longest stop time limit and the margin, at least
// kDefaultServiceStopSeconds.
std::uint32_t ServiceStopSeconds(std::uint32_t longestStopSeconds);
