#include "crc16.hpp"

namespace sensorsim {

std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes) {
    // Bitwise rather than table-driven: frames are a few bytes long, clarity wins.
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 1U) != 0;
            crc = static_cast<std::uint16_t>(crc >> 1);
            if (carry) {
                crc ^= 0xA001;
            }
        }
    }
    return crc;
}

} // namespace sensorsim
