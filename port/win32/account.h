// The account this process runs as.
#pragma once

#include <string>

namespace port::win32 {

// The string form of this process's user SID ("S-1-5-21-..."), or empty.
std::string UserSid();

} // namespace port::win32
