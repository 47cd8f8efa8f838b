#pragma once

namespace sensorsim {

#if defined(__GNUC__)
#define SENSORSIM_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define SENSORSIM_PRINTF(fmt, args)
#endif

void setVerbose(bool on);
bool isVerbose();

// Diagnostics go to stderr: stdout carries only the ready line that scripts wait for.
void logError(const char *format, ...) SENSORSIM_PRINTF(1, 2);
void logVerbose(const char *format, ...) SENSORSIM_PRINTF(1, 2);

} // namespace sensorsim
