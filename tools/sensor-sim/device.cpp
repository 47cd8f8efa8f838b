#include "device.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <numbers>
#include <optional>

#include <termios.h>

namespace sensorsim {

namespace {

// The measurement block, registers 0..15, readable as holding (function 3) and input
// (function 4) registers; the registers the module leaves unused read as 0.
constexpr int kBlockSize = 16;
constexpr int kIlluminance = 0; // lx, after coefficient and offset
constexpr int kTemperature = 2; // degrees Celsius x 100
constexpr int kCoefficient = 4; // x10000
constexpr int kOffset = 5;
constexpr int kGain = 6;
// The settings 4..6 are written at 0x0A04..0x0A06 and show up in the block.
constexpr int kSettings = 0x0A00;
constexpr int kUnitAddress = 0x0B00;

bool IsSetting(int address) {
    return address >= kSettings + kCoefficient && address <= kSettings + kGain;
}

// Only the settings and the unit address accept writes; the module rejects the rest.
bool IsWritable(int address) {
    return IsSetting(address) || address == kUnitAddress;
}

bool IsReadable(int address) {
    return (address >= 0 && address < kBlockSize) || IsWritable(address);
}

struct Range {
    int first;
    int count;

    bool Contains(int address) const { return first <= address && address < first + count; }
    bool All(bool (*allowed)(int)) const {
        for (int a = first; a < first + count; ++a) {
            if (!allowed(a)) {
                return false;
            }
        }
        return true;
    }
};

struct Access {
    std::optional<Range> read;
    std::optional<Range> written;
};

// RTU layout: unit, function, then the function's fields. libmodbus has already checked
// the frame's length against its function code, and the buffer holds a whole ADU.
Access AccessOf(const std::uint8_t *req) {
    const auto word = [req](int at) { return (req[at] << 8) | req[at + 1]; };
    switch (req[1]) {
    case MODBUS_FC_READ_HOLDING_REGISTERS:
    case MODBUS_FC_READ_INPUT_REGISTERS:
        return {Range{word(2), word(4)}, {}};
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
    case MODBUS_FC_MASK_WRITE_REGISTER:
        return {{}, Range{word(2), 1}};
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
        return {{}, Range{word(2), word(4)}};
    case MODBUS_FC_WRITE_AND_READ_REGISTERS:
        return {Range{word(2), word(4)}, Range{word(6), word(8)}};
    default:
        return {};
    }
}

void Describe(const std::uint8_t *req, const Access &access) {
    const auto &range = access.written ? access.written : access.read;
    if (range) {
        LogVerbose("unit %d: function 0x%02X %s 0x%04X x%d", req[0], req[1],
                   access.written ? "writes" : "reads", range->first, range->count);
    } else {
        LogVerbose("unit %d: function 0x%02X", req[0], req[1]);
    }
}

} // namespace

std::unique_ptr<SensorDevice> SensorDevice::Open(const std::string &port, int baud, int address,
                                                 std::uint32_t seed, const ModuleOptions &module,
                                                 const Light &light, std::string &error) {
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
    // The bridge writes each request and has it served at once; should it never arrive,
    // the line must not stall waiting for it.
    modbus_set_indication_timeout(ctx, 0, 500'000);
    if (modbus_set_slave(ctx, address) != 0 || modbus_connect(ctx) != 0) {
        error = port + ": " + modbus_strerror(errno);
        modbus_free(ctx);
        return nullptr;
    }

    modbus_mapping_t *map = modbus_mapping_new(0, 0, kUnitAddress + 1, kBlockSize);
    if (map == nullptr) {
        error = std::string("modbus_mapping_new: ") + modbus_strerror(errno);
        modbus_close(ctx);
        modbus_free(ctx);
        return nullptr;
    }
    return std::unique_ptr<SensorDevice>(new SensorDevice(ctx, map, address, seed, module, light));
}

SensorDevice::SensorDevice(modbus_t *ctx, modbus_mapping_t *map, int address, std::uint32_t seed,
                           const ModuleOptions &module, const Light &light)
    : ctx_(ctx), map_(map), address_(address), module_(module), light_(light),
      start_(MonoClock::now()), random_(seed ^ 0x5EED1234U) {
    map_->tab_registers[kCoefficient] = 10000; // 1.0
    map_->tab_registers[kOffset] = 0;
    map_->tab_registers[kGain] = 1;
    RefreshReadings();
}

SensorDevice::~SensorDevice() {
    modbus_mapping_free(map_);
    modbus_close(ctx_);
    modbus_free(ctx_);
}

int SensorDevice::ServiceRequest() {
    std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> req{};
    const int length = modbus_receive(ctx_, req.data());
    if (length > 0) {
        return std::max(Handle(req.data(), length), 0);
    }
    if (length == 0) {
        // Addressed to another unit. libmodbus now expects that unit's reply and would
        // swallow whatever comes next as such; there is no other unit on this line, so let
        // that expectation run out right away (short response timeout) instead.
        LogVerbose("frame for unit %d ignored", req[0]);
        (void)modbus_receive(ctx_, req.data());
        return 0;
    }
    // Bad CRC, a stalled or overlong frame: drop whatever is left of it so the next
    // request starts on a clean line. Input only: a reply may still be on its way out.
    LogVerbose("frame discarded: %s", modbus_strerror(errno));
    tcflush(Fd(), TCIFLUSH);
    return 0;
}

int SensorDevice::Handle(const std::uint8_t *req, int length) {
    const bool broadcast = req[0] == MODBUS_BROADCAST_ADDRESS;
    const Access access = AccessOf(req);
    Describe(req, access);

    // libmodbus would happily serve the whole table up to the unit address register; the
    // module knows only its own registers.
    const bool writeOk = !access.written || access.written->All(IsWritable);
    if (!writeOk || (access.read && !access.read->All(IsReadable))) {
        LogVerbose("%s at 0x%04X rejected", writeOk ? "read" : "write",
                   (writeOk ? access.read : access.written)->first);
        return broadcast ? 0
                         : modbus_reply_exception(ctx_, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
    }
    if (access.read &&
        (access.read->Contains(kIlluminance) || access.read->Contains(kTemperature))) {
        RefreshReadings();
    }

    if (broadcast) {
        // Broadcasts are never answered. Apply a single-register write, which is what a
        // master would plausibly broadcast; everything else is ignored.
        if (req[1] == MODBUS_FC_WRITE_SINGLE_REGISTER) {
            const auto value = static_cast<std::uint16_t>((req[4] << 8) | req[5]);
            map_->tab_registers[access.written->first] = value;
            ApplyWrite(access.written->first, value);
            SyncMirrors();
        }
        return 0;
    }

    // The reply (for a write: the echo) goes out before the new settings take effect, so an
    // address change is acknowledged from the old address.
    const int sent = modbus_reply(ctx_, req, length, map_);
    if (sent < 0) {
        LogError("sending reply: %s", modbus_strerror(errno));
    }
    for (int a = 0; access.written && a < access.written->count; ++a) {
        ApplyWrite(access.written->first + a, map_->tab_registers[access.written->first + a]);
    }
    SyncMirrors();
    return sent;
}

// Time runs fast, one "day" every ten minutes, so a session shows the light rise and fall:
// 300 lx of room lighting at night, 800 lx at noon, starting mid-morning at 550 lx and rising.
double Light::At(MonoClock::time_point when) const {
    if (steady_) {
        return *steady_;
    }
    const double seconds = std::chrono::duration<double>(when - start_).count();
    return 550.0 - 250.0 * std::cos(2 * std::numbers::pi * (seconds / 600.0 + 0.25));
}

// Sampled when asked for, not on a timer, so an idle simulator does no work at all. A steady
// light has no noise unless asked for. The temperature drifts by a few tenths around 23.5
// degrees Celsius.
void SensorDevice::RefreshReadings() {
    const auto now = MonoClock::now();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double light = light_.At(now);
    const double noise = module_.lightNoise.value_or(light_.Steady() ? 0.0 : 4.0);
    // No sensor sees less than darkness, however its noise falls.
    const double raw = std::max(light + Noise(noise), 0.0) * module_.sensitivity;
    const double celsius =
        23.5 + 0.4 * std::sin(2 * std::numbers::pi * seconds / 900.0) + Noise(0.02);
    std::uint16_t *regs = map_->tab_registers;
    // Raw light x coefficient (register 4 / 10000) + offset (register 5), held to a register.
    const double scaled = std::round(raw * regs[kCoefficient] / 10000.0) + regs[kOffset];
    regs[kIlluminance] = static_cast<std::uint16_t>(std::clamp(scaled, 0.0, 65535.0));
    regs[kTemperature] = static_cast<std::uint16_t>(std::lround(celsius * 100.0));
    SyncMirrors();
}

// A little noise on every reading, like a real photodiode, so two reads in a row rarely
// agree. The sum of two uniform draws: triangular, so large excursions are rare. Done by
// hand because the standard distributions differ between library implementations.
double SensorDevice::Noise(double amplitude) {
    const double a = static_cast<std::uint32_t>(random_()) / 4294967295.0;
    const double b = static_cast<std::uint32_t>(random_()) / 4294967295.0;
    return (a + b - 1.0) * amplitude;
}

void SensorDevice::ApplyWrite(int address, std::uint16_t value) {
    if (IsSetting(address) && module_.readOnlySettings) {
        // The echo has gone out as usual; SyncMirrors() puts the old value back.
        LogVerbose("setting 0x%04X = %d acknowledged, not applied", address, value);
        return;
    }
    if (IsSetting(address)) {
        map_->tab_registers[address - kSettings] = value;
        return;
    }
    if (address != kUnitAddress || value == address_) {
        return;
    }
    if (value >= 1 && value <= 247 && modbus_set_slave(ctx_, value) == 0) {
        LogVerbose("unit address %d -> %d", address_, value);
        address_ = value;
    } else {
        LogVerbose("unit address %d rejected, staying at %d", value, address_);
    }
}

// Keeps every view of a value identical: the measurement block as input registers, the
// settings at their write addresses, and the unit address register.
void SensorDevice::SyncMirrors() {
    std::copy_n(map_->tab_registers, kBlockSize, map_->tab_input_registers);
    for (int r = kCoefficient; r <= kGain; ++r) {
        map_->tab_registers[kSettings + r] = map_->tab_registers[r];
    }
    map_->tab_registers[kUnitAddress] = static_cast<std::uint16_t>(address_);
}

} // namespace sensorsim
