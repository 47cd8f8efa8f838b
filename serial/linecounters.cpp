#include "linecounters.h"

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

std::optional<LineCounters> ReadLineCounters(PortHandle handle) {
#ifdef Q_OS_LINUX
    serial_icounter_struct counts{};
    if (::ioctl(handle, TIOCGICOUNT, &counts) != 0)
        return std::nullopt; // pseudo-terminals and some adapters keep no counters
    LineCounters result;
    result.breaks = static_cast<std::uint32_t>(counts.brk);
    result.framing = static_cast<std::uint32_t>(counts.frame);
    result.parity = static_cast<std::uint32_t>(counts.parity);
    result.overrun = static_cast<std::uint32_t>(counts.overrun + counts.buf_overrun);
    return result;
#else
    Q_UNUSED(handle);
    return std::nullopt;
#endif
}

std::vector<LineError> LineErrorsBetween(const LineCounters &before, const LineCounters &after) {
    // The driver's counters only grow (modulo wrap-around), so any change is a new error.
    std::vector<LineError> errors;
    if (after.breaks != before.breaks)
        errors.push_back(LineError::Break);
    if (after.framing != before.framing)
        errors.push_back(LineError::Framing);
    if (after.parity != before.parity)
        errors.push_back(LineError::Parity);
    if (after.overrun != before.overrun)
        errors.push_back(LineError::Overrun);
    return errors;
}

std::vector<LineError> LineErrorWatch::newErrors(PortHandle handle) {
    if (!last_)
        return {};
    const auto now = ReadLineCounters(handle);
    if (!now)
        return {};
    const std::vector<LineError> errors = LineErrorsBetween(*last_, *now);
    last_ = now;
    return errors;
}
