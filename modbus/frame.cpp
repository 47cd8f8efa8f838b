#include "frame.h"

namespace modbus {

std::uint16_t Crc16Value(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 1U) != 0;
            crc = static_cast<std::uint16_t>(crc >> 1);
            if (carry)
                crc ^= 0xA001;
        }
    }
    return crc;
}

QString RequestText(const RequestFrame &frame) {
    return QString::fromLatin1(ToBytes(frame).toHex(' ').toUpper()) + u' ';
}

QString ReplyText(const QByteArray &bytes) {
    if (bytes.isEmpty())
        return {};
    return u' ' + QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace modbus
