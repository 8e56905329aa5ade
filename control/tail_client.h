// --tail NAME [N] [--follow]: the last lines of an application's captured
// output, printed from anywhere: the manager tells where the file is (it
// knows the directory), the client reads it. With --follow the client then
// prints each new line as the file grows, across rotations (the file it
// followed is read to its end under its first backup's name), until it is
// interrupted or the manager ends. The manager is asked once a second
// meanwhile; the following itself costs the manager nothing.
#pragma once

#include <string>

inline constexpr int kDefaultTailLines = 10;

struct TailRequest {
    std::string name; // display name, or number
    int lines = kDefaultTailLines;
    bool follow = false;
};

// Returns the exit code: 0 when the lines were printed (and, following,
// once the manager has ended), 1 when no manager runs or the output cannot
// be had (said on standard error as the console's tail says it).
int TailMain(const TailRequest& request);
