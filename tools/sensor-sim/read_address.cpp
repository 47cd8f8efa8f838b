#include "read_address.hpp"

#include "crc16.hpp"

#include <algorithm>

namespace sensorsim {

bool isReadAddressRequest(std::span<const std::uint8_t> frame) {
    return std::ranges::equal(frame, readAddressRequest);
}

std::array<std::uint8_t, 6> readAddressReply(std::uint8_t address) {
    std::array<std::uint8_t, 6> reply{0xFA, 0x25, 0x01, address, 0, 0};
    const std::uint16_t crc = crc16Modbus(std::span(reply).first(4));
    reply[4] = static_cast<std::uint8_t>(crc & 0xFF);
    reply[5] = static_cast<std::uint8_t>(crc >> 8);
    return reply;
}

} // namespace sensorsim
