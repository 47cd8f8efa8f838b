#include "sensor_device.hpp"

#include "log.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <optional>
#include <utility>

#include <termios.h>

namespace sensorsim {

namespace {

int word(const std::uint8_t *p) {
    return (p[0] << 8) | p[1];
}

// RTU layout: unit, function, then the function's fields. libmodbus has already checked
// the length against the function code, the explicit checks only guard against surprises.
std::optional<std::pair<int, int>> writtenRange(const std::uint8_t *req, int length) {
    switch (req[1]) {
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
    case MODBUS_FC_MASK_WRITE_REGISTER:
        if (length >= 8) {
            return std::pair{word(req + 2), 1};
        }
        break;
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
        if (length >= 9) {
            return std::pair{word(req + 2), word(req + 4)};
        }
        break;
    case MODBUS_FC_WRITE_AND_READ_REGISTERS:
        if (length >= 13) {
            return std::pair{word(req + 6), word(req + 8)};
        }
        break;
    default:
        break;
    }
    return std::nullopt;
}

std::optional<std::pair<int, int>> readRange(const std::uint8_t *req, int length) {
    switch (req[1]) {
    case MODBUS_FC_READ_HOLDING_REGISTERS:
    case MODBUS_FC_READ_INPUT_REGISTERS:
    case MODBUS_FC_WRITE_AND_READ_REGISTERS:
        if (length >= 8) {
            return std::pair{word(req + 2), word(req + 4)};
        }
        break;
    default:
        break;
    }
    return std::nullopt;
}

bool all(std::pair<int, int> range, bool (*allowed)(int)) {
    for (int a = range.first; a < range.first + range.second; ++a) {
        if (!allowed(a)) {
            return false;
        }
    }
    return true;
}

bool covers(std::pair<int, int> range, int address) {
    return range.first <= address && address < range.first + range.second;
}

void describe(const std::uint8_t *req, int length) {
    if (!verbose) {
        return;
    }
    const int unit = req[0];
    const int function = req[1];
    if (function == MODBUS_FC_WRITE_SINGLE_REGISTER && length >= 8) {
        logVerbose("unit %d: write 0x%04X = %d", unit, word(req + 2), word(req + 4));
    } else if (const auto r = readRange(req, length);
               r && function != MODBUS_FC_WRITE_AND_READ_REGISTERS) {
        logVerbose("unit %d: read %s 0x%04X x%d", unit,
                   function == MODBUS_FC_READ_HOLDING_REGISTERS ? "holding" : "input", r->first,
                   r->second);
    } else if (const auto w = writtenRange(req, length)) {
        logVerbose("unit %d: function 0x%02X writes 0x%04X x%d", unit, function, w->first,
                   w->second);
    } else {
        logVerbose("unit %d: function 0x%02X", unit, function);
    }
}

} // namespace

std::unique_ptr<SensorDevice> SensorDevice::open(const std::string &port, int baud, int address,
                                                 std::uint32_t seed, std::string &error) {
    modbus_t *ctx = modbus_new_rtu(port.c_str(), baud, 'N', 8, 1);
    if (ctx == nullptr) {
        error = std::string("modbus_new_rtu: ") + modbus_strerror(errno);
        return nullptr;
    }
    // The bridge hands over each frame in a single write, so a frame that stalls half-way
    // is garbage; give up on it quickly instead of holding up the line.
    modbus_set_byte_timeout(ctx, 0, 50'000);
    // A server only waits for "responses" when skipping another unit's reply, and libmodbus
    // also pauses for this long before some exception replies. Keep both short.
    modbus_set_response_timeout(ctx, 0, 1'000);
    if (modbus_set_slave(ctx, address) != 0 || modbus_connect(ctx) != 0) {
        error = port + ": " + modbus_strerror(errno);
        modbus_free(ctx);
        return nullptr;
    }

    modbus_mapping_t *map = modbus_mapping_new(0, 0, reg::mapSize, reg::blockSize);
    if (map == nullptr) {
        error = std::string("modbus_mapping_new: ") + modbus_strerror(errno);
        modbus_close(ctx);
        modbus_free(ctx);
        return nullptr;
    }
    return std::unique_ptr<SensorDevice>(new SensorDevice(ctx, map, address, seed));
}

SensorDevice::SensorDevice(modbus_t *ctx, modbus_mapping_t *map, int address, std::uint32_t seed)
    : ctx_(ctx), map_(map), address_(address), environment_(MonoClock::now(), seed) {
    map_->tab_registers[reg::rangeCoefficient] = reg::defaultRangeCoefficient;
    map_->tab_registers[reg::offset] = reg::defaultOffset;
    map_->tab_registers[reg::gain] = reg::defaultGain;
    refreshReadings();
    syncMirrors();
}

SensorDevice::~SensorDevice() {
    modbus_mapping_free(map_);
    modbus_close(ctx_);
    modbus_free(ctx_);
}

int SensorDevice::serviceRequest() {
    std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> req{};
    const int length = modbus_receive(ctx_, req.data());
    if (length > 0) {
        return std::max(handle(req.data(), length), 0);
    }
    if (length == 0) {
        // Addressed to another unit. libmodbus now expects that unit's reply and would
        // swallow whatever comes next as such; there is no other unit on this line, so let
        // that expectation run out right away (short response timeout) instead.
        logVerbose("frame for unit %d ignored", req[0]);
        (void)modbus_receive(ctx_, req.data());
        return 0;
    }
    // Bad CRC, a stalled or overlong frame: drop whatever is left of it so the next
    // request starts on a clean line. Input only: a reply may still be on its way out.
    logVerbose("frame discarded: %s", modbus_strerror(errno));
    tcflush(fd(), TCIFLUSH);
    return 0;
}

int SensorDevice::handle(const std::uint8_t *req, int length) {
    const bool broadcast = req[0] == MODBUS_BROADCAST_ADDRESS;
    describe(req, length);

    const auto written = writtenRange(req, length);
    const auto read = readRange(req, length);
    // libmodbus would happily serve the whole table up to the unit address register; the
    // module knows only its own registers.
    const bool writeOk = !written || all(*written, isWritable);
    if (!writeOk || (read && !all(*read, isReadable))) {
        logVerbose("%s at 0x%04X rejected", writeOk ? "read" : "write",
                   writeOk ? read->first : written->first);
        return broadcast ? 0
                         : modbus_reply_exception(ctx_, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    }

    if (read && (covers(*read, reg::illuminance) || covers(*read, reg::temperature))) {
        refreshReadings();
        syncMirrors();
    }

    if (broadcast) {
        // Broadcasts are never answered. Apply a single-register write, which is what a
        // master would plausibly broadcast; everything else is ignored.
        if (req[1] == MODBUS_FC_WRITE_SINGLE_REGISTER && written) {
            const auto value = static_cast<std::uint16_t>(word(req + 4));
            map_->tab_registers[written->first] = value;
            applyWrite(written->first, value);
            syncMirrors();
        }
        return 0;
    }

    // The reply (for a write: the echo) goes out before the new settings take effect, so an
    // address change is acknowledged from the old address.
    const int sent = modbus_reply(ctx_, req, length, map_);
    if (sent < 0) {
        logError("sending reply: %s", modbus_strerror(errno));
    }
    if (written) {
        for (int a = written->first; a < written->first + written->second; ++a) {
            applyWrite(a, map_->tab_registers[a]);
        }
    }
    syncMirrors();
    return sent;
}

// Sampled when asked for, not on a timer, so an idle simulator does no work at all.
void SensorDevice::refreshReadings() {
    const auto now = MonoClock::now();
    std::uint16_t *regs = map_->tab_registers;
    regs[reg::illuminance] = scaledReading(environment_.illuminance(now),
                                           regs[reg::rangeCoefficient], regs[reg::offset]);
    regs[reg::temperature] =
        static_cast<std::uint16_t>(std::lround(environment_.temperature(now) * 100.0));
}

void SensorDevice::applyWrite(int address, std::uint16_t value) {
    if (const int target = settingTarget(address); target >= 0) {
        map_->tab_registers[target] = value;
        return;
    }
    if (address != reg::unitAddress || value == address_) {
        return;
    }
    if (value >= minUnitAddress && value <= maxUnitAddress && modbus_set_slave(ctx_, value) == 0) {
        logVerbose("unit address %d -> %d", address_, value);
        address_ = value;
    } else {
        logVerbose("unit address %d rejected, staying at %d", value, address_);
    }
}

// Keeps every view of a value identical: the measurement block as input registers, the
// settings at their write addresses, and the unit address register.
void SensorDevice::syncMirrors() {
    for (int i = 0; i < reg::blockSize; ++i) {
        map_->tab_input_registers[i] = map_->tab_registers[i];
    }
    for (int a : {reg::rangeCoefficientSetting, reg::offsetSetting, reg::gainSetting}) {
        map_->tab_registers[a] = map_->tab_registers[settingTarget(a)];
    }
    map_->tab_registers[reg::unitAddress] = static_cast<std::uint16_t>(address_);
}

} // namespace sensorsim
