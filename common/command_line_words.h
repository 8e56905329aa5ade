// Splits a Windows command line into its arguments by the rules of
// CommandLineToArgvW, the rules a program started with those parameters
// reads them by: blanks (space, tab) separate arguments outside quotes; a
// double quote opens or closes a quoted part; 2n backslashes before a quote
// stand for n backslashes (the quote opens or closes), 2n+1 for n
// backslashes and a literal quote; other backslashes are literal; inside a
// quoted part a doubled quote stands for one quote. With `programFirst` the
// first argument is the program's name, which ends at the next quote when it
// begins with one and at the next blank otherwise, with nothing escaped.
// Pure code, tested in tests/unit/command_line_test.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> SplitCommandLineWords(std::string_view text, bool programFirst);
