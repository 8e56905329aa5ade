// "tail N [LINES]": the last lines of an application's captured output, from
// its file and the rotated one before it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class ArgReader;

// The last `count` lines (at most) of the output file `path`, oldest first,
// from it and the rotated file before it. False when neither can be read.
bool ReadLastOutputLines(const std::string& path, std::size_t count,
                         std::vector<std::string>* lines);

// The "tail" command (with ExtraCommands).
void TailCommand(ArgReader* args);
