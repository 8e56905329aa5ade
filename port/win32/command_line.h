// Command lines on Windows: one string that the started program's C runtime
// splits into its arguments again.
#pragma once

#include <string>

namespace port::win32 {

// `text` as one argument of a command line, quoted so that the C runtime's
// parser gives it back unchanged.
std::string QuoteArgument(const std::string& text);

} // namespace port::win32
