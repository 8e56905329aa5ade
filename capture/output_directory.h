// The directory of the output files: made when missing, and used only when
// no other user can plant a file or a link in it (where the system tells
// who owns it: on Linux).
#pragma once

#include <string>

// Makes `directory` when it is missing (on POSIX with mode 0750), and checks
// it: it must be a directory of this user's (or root's) that others may not
// write to. False when it cannot take output files: *problem then says why
// ("another user owns it", "others may write to it"), or is null when the
// system refused (port::LastError()).
bool MakeOutputDirectory(const std::string& directory, const char** problem);
