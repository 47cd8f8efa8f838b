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

QString FormatHex(std::uint8_t bb) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const QChar text[2] = {QLatin1Char(kDigits[bb >> 4]), QLatin1Char(kDigits[bb & 0x0F])};
    return QString(text, 2);
}

QString RequestText(const RequestFrame &frame) {
    QString text;
    text.reserve(3 * static_cast<qsizetype>(frame.size()));
    for (const std::uint8_t byte : frame)
        text += FormatHex(byte) + QLatin1Char(' ');
    return text;
}

QString ReplyText(const QByteArray &bytes) {
    QString text;
    text.reserve(3 * bytes.size());
    for (const char byte : bytes)
        text += QLatin1Char(' ') + FormatHex(static_cast<std::uint8_t>(byte));
    return text;
}

} // namespace modbus
