// The command table and the interpreter of entered lines: exact command
// words on Enter, completion by prefix on Tab, and the built-in "help".
#pragma once

#include "console/console.h"

#include <string>

// Appends a row to the command table. Returns false, changing nothing, when
// the table is full.
bool AddCommand(const char* name, const char* description, CommandHandler handler);

// Runs one entered line. False when it did not do what it asked: no such
// command, or the command said so (FailCommand).
bool ExecuteLine(const char* line);

// Marks the line being run as one that did not do what it asked (an
// application that does not exist, a start that failed, a refused reload).
void FailCommand();

// Writes the help listing; the line itself is not looked at.
void ShowHelp(std::string line);

// Completes the command word on the current input line, or lists the candidates.
void CompleteCommand();
