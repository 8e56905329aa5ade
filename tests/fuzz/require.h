// The one check of the fuzz targets: a broken invariant is a crash the
// fuzzer records, with the invariant's text on standard error.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Require(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
