#pragma once
// Line errors (break, framing, parity, overrun) as the serial driver counts them. Qt's
// serial port does not report them, so the control compares the driver's counters after
// each read. Only Linux drivers keep such counters; elsewhere, and on pseudo-terminals,
// there are none to read.

#include <QSerialPort>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

struct LineCounters {
    std::uint32_t breaks = 0;
    std::uint32_t framing = 0;
    std::uint32_t parity = 0;
    std::uint32_t overrun = 0;
};

// What QSerialPort::handle() gives: a descriptor on Unix, a HANDLE on Windows.
using PortHandle = decltype(std::declval<QSerialPort &>().handle());

enum class LineError { Break, Framing, Parity, Overrun };

// The driver's counters for an open port's handle, when it keeps any.
std::optional<LineCounters> ReadLineCounters(PortHandle handle);

// One entry for each kind of error whose count went up, in the order above.
std::vector<LineError> LineErrorsBetween(const LineCounters &before, const LineCounters &after);

// An open port's counters, looked at after each read: a damaged byte arrives as data too,
// so that catches every error. Ports without counters never report one.
class LineErrorWatch {
public:
    void start(PortHandle handle) { last_ = ReadLineCounters(handle); }
    // The errors since the last look.
    std::vector<LineError> newErrors(PortHandle handle);

private:
    std::optional<LineCounters> last_;
};
