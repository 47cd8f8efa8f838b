#pragma once

// Just enough of a harness for a test that drives a child process: failures are counted
// and reported, and the run carries on so one fault doesn't hide the next.

#include <cstdio>
#include <string>
#include <utility>

namespace check {

inline int failures = 0;
inline std::string context; // the scenario or table row being run

inline bool expect(bool ok, const char *file, int line, const std::string &what) {
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "%s:%d: FAILED [%s] %s\n", file, line, context.c_str(), what.c_str());
    }
    return ok;
}

// Labels the checks made while it is alive.
struct Scope {
    explicit Scope(std::string label) : saved(std::exchange(context, std::move(label))) {}
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
    ~Scope() { context = saved; }
    std::string saved;
};

} // namespace check

#define CHECK(cond) ::check::expect(static_cast<bool>(cond), __FILE__, __LINE__, #cond)
#define CHECK_EQ(actual, expected)                                                                 \
    [&](long long a, long long e) {                                                                \
        return ::check::expect(a == e, __FILE__, __LINE__,                                         \
                               #actual " == " #expected ": got " + std::to_string(a) +             \
                                   ", expected " + std::to_string(e));                             \
    }(static_cast<long long>(actual), static_cast<long long>(expected))
