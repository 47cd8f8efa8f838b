#include "log.hpp"

#include <cstdarg>
#include <cstdio>

namespace sensorsim {

namespace {

bool verbose = false;

void emit(const char *format, std::va_list args) {
    std::fputs("sensor-sim: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

} // namespace

void setVerbose(bool on) {
    verbose = on;
}

bool isVerbose() {
    return verbose;
}

void logError(const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    emit(format, args);
    va_end(args);
}

void logVerbose(const char *format, ...) {
    if (!verbose) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    emit(format, args);
    va_end(args);
}

} // namespace sensorsim
