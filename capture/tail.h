// "tail N [LINES]": the last lines of an application's captured output, from
// its file and the rotated one before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ArgReader;

// How much of each file's end is read for its last lines.
inline constexpr std::uint32_t kTailBytes = 64 * 1024;

// The last `count` lines (at most) of the output file `path`, oldest first,
// from it and the rotated file before it, each read only when it is a
// regular file, and only its last kTailBytes. False when neither can be read.
bool ReadLastOutputLines(const std::string& path, std::size_t count,
                         std::vector<std::string>* lines);

// The "tail" command (with ExtraCommands).
void TailCommand(ArgReader* args);
