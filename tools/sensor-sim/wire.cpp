#include "wire.h"

#include <algorithm>
#include <cstddef>

namespace sensorsim {

namespace {

constexpr std::size_t kBitsPerByte = 10; // start, eight data bits, stop

// The level a UART sending `bytes` puts on the line at bit time `t`: high while idle, low
// for a start bit, the data bits least significant first, high for the stop bit.
bool Level(std::span<const std::uint8_t> bytes, std::ptrdiff_t t) {
    if (t < 0 || static_cast<std::size_t>(t) >= bytes.size() * kBitsPerByte) {
        return true;
    }
    const auto at = static_cast<std::size_t>(t);
    const std::size_t bit = at % kBitsPerByte;
    if (bit == 0 || bit == kBitsPerByte - 1) {
        return bit != 0;
    }
    return ((bytes[at / kBitsPerByte] >> (bit - 1)) & 1U) != 0;
}

} // namespace

// Bitwise rather than table-driven: frames are a few bytes long.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 1U) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1);
        }
    }
    return crc;
}

std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> frame) {
    const std::uint16_t crc = Crc16(frame);
    frame.insert(frame.end(),
                 {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)});
    return frame;
}

bool CrcOk(std::span<const std::uint8_t> frame) {
    if (frame.size() < 3) {
        return false;
    }
    const std::uint16_t crc = Crc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

std::vector<std::uint8_t> Collide(std::span<const std::vector<std::uint8_t>> replies,
                                  std::mt19937 &random) {
    std::vector<std::ptrdiff_t> starts;
    std::ptrdiff_t end = 0;
    for (const std::vector<std::uint8_t> &reply : replies) {
        const auto start =
            starts.empty() ? 0 : static_cast<std::ptrdiff_t>(1 + random() % (kBitsPerByte - 1));
        starts.push_back(start);
        end = std::max(end, start + static_cast<std::ptrdiff_t>(reply.size() * kBitsPerByte));
    }
    const auto line = [&](std::ptrdiff_t t) {
        for (std::size_t i = 0; i < replies.size(); ++i) {
            if (!Level(replies[i], t - starts[i])) {
                return false;
            }
        }
        return true;
    };
    std::vector<std::uint8_t> heard;
    for (std::ptrdiff_t t = 0; t < end;) {
        if (line(t)) {
            ++t; // idle, or a stop bit: wait for the next start bit
            continue;
        }
        std::uint8_t byte = 0;
        for (std::ptrdiff_t bit = 0; bit < 8; ++bit) {
            byte = static_cast<std::uint8_t>(byte | (line(t + 1 + bit) ? 1U << bit : 0U));
        }
        heard.push_back(byte);
        // Wherever the stop bit fell, low or not, the UART looks for the next start bit
        // after it.
        t += static_cast<std::ptrdiff_t>(kBitsPerByte);
    }
    if (CrcOk(heard)) {
        heard.back() ^= 0xFF;
    }
    return heard;
}

} // namespace sensorsim
