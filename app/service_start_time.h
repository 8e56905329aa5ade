// How long a service manager (systemd) should give the manager to start: a
// headless manager says it is ready only once every application is ready,
// so the time covers the longest wait for readiness that zelkappmgr.ini
// allows, and a margin for the start-up itself.
#pragma once

#include "config/settings.h"

#include <cstdint>

// systemd's own default; enough when readiness takes no longer.
inline constexpr std::uint32_t kDefaultServiceStartSeconds = 90;
inline constexpr std::uint32_t kServiceStartMarginSeconds = 30;
// No time is enough: an application may take any time to become ready.
inline constexpr std::uint32_t kUnlimitedStartSeconds = UINT32_MAX;

// The longest the applications may take to become ready, in whole seconds:
// the [ReadyTimeout] of each application with a [Ready] rule, added up along
// its chain of [After] (one starts only once those before it are ready);
// kUnlimitedStartSeconds when one of them has no limit; 0 without [Ready].
std::uint32_t LongestReadySeconds(const Settings& settings);

// The longest wait for readiness and the margin, at least
// kDefaultServiceStartSeconds; kUnlimitedStartSeconds stays unlimited.
std::uint32_t ServiceStartSeconds(std::uint32_t longestReadySeconds);
