// Splits a parameter string into words the way a POSIX shell splits a
// command line, without running a shell: blanks (space, tab, newline)
// separate words; single quotes keep everything literally; double quotes keep
// everything but let a backslash escape $ ` " \ and newline; a backslash
// outside quotes takes the next byte literally (a backslash-newline pair
// vanishes). Nothing is expanded. An unterminated quote runs to the end of
// the string; a trailing lone backslash stands for itself. Pure code, tested
// in tests/unit/shell_words_test.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> SplitShellWords(std::string_view text);
