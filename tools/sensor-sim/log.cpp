#include "log.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace sensorsim {

namespace {

void Emit(const char *format, std::va_list args) {
    std::fputs("sensor-sim: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

} // namespace

void LogError(const char *format, ...) {
    std::va_list args;
    va_start(args, format);
    Emit(format, args);
    va_end(args);
}

void LogVerbose(const char *format, ...) {
    if (!verbose) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    Emit(format, args);
    va_end(args);
}

TrafficLog::~TrafficLog() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool TrafficLog::Open(const std::string &path, std::string &error) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = "--log " + path + ": " + std::strerror(errno);
    }
    return fd_ >= 0;
}

void TrafficLog::Record(MonoClock::time_point when, std::string_view kind,
                        std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        return;
    }
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%" PRId64 ".%06" PRId64 " ",
                  static_cast<std::int64_t>(micros / 1'000'000),
                  static_cast<std::int64_t>(micros % 1'000'000));
    std::string line = stamp + std::string(kind);
    for (const std::uint8_t byte : bytes) {
        line += {' ', "0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 0x0F]};
    }
    line.push_back('\n');

    if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        // A full disk should not take the line down with it; say so once and carry on.
        LogError("writing the traffic log failed (%s); logging stops", std::strerror(errno));
        close(fd_);
        fd_ = -1;
    }
}

} // namespace sensorsim
