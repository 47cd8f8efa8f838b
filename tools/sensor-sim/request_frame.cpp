#include "request_frame.hpp"

#include "crc16.hpp"

namespace sensorsim {

namespace {

// The request length its first bytes announce, or 0 when they don't (yet) tell.
std::size_t announcedLength(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2) {
        return 0;
    }
    switch (bytes[1]) {
    case 0x01: // read coils
    case 0x02: // read discrete inputs
    case 0x03: // read holding registers
    case 0x04: // read input registers
    case 0x05: // write single coil
    case 0x06: // write single register
    case 0x25: // the module's read-address query
        return 8;
    case 0x07: // read exception status
    case 0x0B: // comm event counter
    case 0x0C: // comm event log
    case 0x11: // report server id
        return 4;
    case 0x0F: // write multiple coils
    case 0x10: // write multiple registers
        return bytes.size() > 6 ? 9 + std::size_t{bytes[6]} : 0;
    case 0x16: // mask write register
        return 10;
    case 0x17: // read/write multiple registers
        return bytes.size() > 10 ? 13 + std::size_t{bytes[10]} : 0;
    default:
        return 0;
    }
}

} // namespace

bool isCompleteRequest(std::span<const std::uint8_t> bytes) {
    const std::size_t length = announcedLength(bytes);
    if (length == 0 || bytes.size() != length) {
        return false;
    }
    const std::uint16_t crc = crc16Modbus(bytes.first(length - 2));
    return bytes[length - 2] == (crc & 0xFF) && bytes[length - 1] == (crc >> 8);
}

} // namespace sensorsim
