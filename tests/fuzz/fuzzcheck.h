#pragma once
// What every fuzz target does when a promise is broken: say which one and abort, so
// libFuzzer keeps the input that broke it.

#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void Fail(const char *what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Require(bool ok, const char *what) {
    if (!ok)
        Fail(what);
}
