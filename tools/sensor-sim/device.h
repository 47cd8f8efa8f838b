#pragma once

#include "log.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include <modbus.h>

namespace sensorsim {

// The one light every module on the line is under. By default it follows a fast "day";
// calibrating against a reference instrument wants a steady light, set at the start
// (--light) or while running (`light LUX` on stdin).
class Light {
public:
    explicit Light(std::optional<double> steady) : steady_(steady), start_(MonoClock::now()) {}

    void SetSteady(std::optional<double> lux) { steady_ = lux; }
    bool Steady() const { return steady_.has_value(); }
    double At(MonoClock::time_point when) const;

private:
    std::optional<double> steady_; // lx; empty: the day
    MonoClock::time_point start_;
};

// What one module's sensor makes of the light, and whether it takes its settings: a sensor
// whose own gain is off by a known factor, with a few lx of noise.
struct ModuleOptions {
    std::optional<double> lightNoise; // +- lx on each reading; default 4 on the day, 0 steady
    double sensitivity = 1.0;         // the sensor's gain error: raw light x this
    bool readOnlySettings = false;    // 0x0A04..0x0A06 writes acknowledged, not applied
};

// The simulated module: a libmodbus RTU server on its own pty plus the behaviour libmodbus
// does not know about: live readings, settings mirrored into the measurement block, address
// changes, and registers outside the module's map refused.
class SensorDevice {
public:
    static std::unique_ptr<SensorDevice> Open(const std::string &port, int baud, int address,
                                              std::uint32_t seed, const ModuleOptions &module,
                                              const Light &light, std::string &error);

    SensorDevice(const SensorDevice &) = delete;
    SensorDevice &operator=(const SensorDevice &) = delete;
    ~SensorDevice();

    // Readable when a request is waiting for ServiceRequest().
    int Fd() const { return modbus_get_socket(ctx_); }
    std::uint8_t Address() const { return static_cast<std::uint8_t>(address_); }

    // Reads one frame and answers it. Call once the frame has been written whole to the
    // other end of the pty, so libmodbus does not sit waiting for bytes (and never longer
    // than its indication timeout). Returns how many bytes of reply libmodbus wrote to the
    // line, 0 for none.
    int ServiceRequest();

private:
    SensorDevice(modbus_t *ctx, modbus_mapping_t *map, int address, std::uint32_t seed,
                 const ModuleOptions &module, const Light &light);
    int Handle(const std::uint8_t *req, int length);
    void RefreshReadings();
    double Noise(double amplitude);
    void ApplyWrite(int address, std::uint16_t value);
    void SyncMirrors();

    modbus_t *ctx_;
    modbus_mapping_t *map_;
    int address_;
    ModuleOptions module_;
    const Light &light_;
    MonoClock::time_point start_;
    std::mt19937 random_;
};

} // namespace sensorsim
