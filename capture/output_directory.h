// The directory of the output files: made when missing, and used only when
// no other user can plant a file or a link in it, nor swap it or any
// directory above it for a link to a place of their choosing (where the
// system tells who owns what: on Linux).
#pragma once

#include "config/settings.h"
#include "port/file.h"

#include <string>
#include <string_view>
#include <vector>

// Why a directory whose path has these components (port::ReadPathComponents:
// from the root down, a link followed by the components of its target) may
// not take the manager's output files; empty when it may. Every component,
// links included, must be root's or the manager's user's, and no component
// but a link may be open to others' writing, except a sticky directory
// (such as /tmp) above one of root's or the manager's user's. `more` tells
// that the path goes on below the last component (a directory yet to be
// made there will be the manager's; the reading stopped at another's
// component). The reasons: "another user owns it",
// "others may write to it" (of the directory itself), or "another user
// owns PATH", "others may write to PATH" (of a component above it).
std::string PathProblem(const std::vector<port::PathComponent>& components, bool more);

// Makes `directory` when it is missing (on POSIX with mode 0750), checks
// its whole path (PathProblem) and opens it (port::OpenDirectory), making
// sure that what was opened is what was checked. Null when it cannot take
// output files: *problem then says why, or is empty when the system refused
// (port::LastError()).
port::Handle OpenOutputDirectory(const std::string& directory, std::string* problem);

// OpenOutputDirectory, for the check alone: true when it can take output
// files.
bool MakeOutputDirectory(const std::string& directory, std::string* problem);

// The file of an application's output: its display name with every byte
// outside A-Z a-z 0-9 . _ - made '_', and ".log".
std::string OutputFileName(std::string_view name);

// Where the output of the application `name` goes: the output directory and
// its file.
std::string OutputPath(const OutputSettings& output, std::string_view name);
