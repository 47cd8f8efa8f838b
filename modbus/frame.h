#pragma once
// The Modbus RTU request: always 8 bytes, address, function code, two 16-bit fields high
// byte first, and the CRC-16 low byte first. The codec is plain values and free
// functions: no I/O, no window.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <span>

namespace modbus {

using RequestFrame = std::array<std::uint8_t, 8>;

// CRC-16/MODBUS: polynomial 0x8005 in reflected form 0xA001, initial value 0xFFFF, input
// and output reflected, no final exclusive-or. Over no bytes it is 0xFFFF.
std::uint16_t Crc16Value(std::span<const std::uint8_t> bytes);

// A request as shown in the sent-command box: each byte followed by one space.
QString RequestText(const RequestFrame &frame);

// Received bytes as shown in the received-command box: each byte preceded by one space.
QString ReplyText(const QByteArray &bytes);

inline QByteArray ToBytes(const RequestFrame &frame) {
    return QByteArray(reinterpret_cast<const char *>(frame.data()),
                      static_cast<qsizetype>(frame.size()));
}

} // namespace modbus
