// The accounts programs run as: a program may be started as another user
// (port/process.h, StartProgram), and a running copy is only one that runs
// as the user it should.
#pragma once

#include <cstdint>

namespace port {

// Whether StartProgram can run a program as another user (POSIX, when this
// process runs as root); where it cannot (Windows), a user is not asked for.
extern const bool kStartsAsOtherUsers;

// The user id of the account `name`. False, with LastError(), when there is
// no such account or the account database cannot be read.
bool UserIdByName(const char* name, std::uint32_t* userId);

// The real user id of a running process. False, with LastError(), when it
// cannot be read (it has ended).
bool ProcessUserId(std::uint32_t processId, std::uint32_t* userId);

} // namespace port
