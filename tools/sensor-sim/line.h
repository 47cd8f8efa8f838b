#pragma once

#include "device.h"
#include "ptypair.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sensorsim {

// One module as --module or `add` give it: its address, and whatever it has of its own
// rather than the line's defaults.
struct ModuleWanted {
    int address = 1; // the factory address
    std::optional<double> sensitivity;
    std::optional<double> lightNoise;
    std::optional<bool> readOnlySettings;
};

// One module on the line: a libmodbus RTU server on a pty of its own. The bridge writes each
// request for it to the pty's master end and reads the reply back from there.
class Module {
public:
    static std::unique_ptr<Module> Open(int id, int baud, int address, std::uint32_t seed,
                                        const ModuleOptions &options, const Light &light,
                                        std::string &error);

    int Id() const { return id_; }
    // Where its replies come out.
    int Fd() const { return pty_.master.Get(); }
    std::uint8_t Address() const { return device_->Address(); }

    // Passes `frame` to the module and has it served at once: how many bytes of reply are
    // on their way back through Fd(), 0 for none.
    std::size_t Ask(std::span<const std::uint8_t> frame);

private:
    Module(int id, pty::PtyPair pty, std::unique_ptr<SensorDevice> device)
        : id_(id), pty_(std::move(pty)), device_(std::move(device)) {}

    int id_;
    pty::PtyPair pty_;
    std::unique_ptr<SensorDevice> device_;
};

// The modules on the RS-485 line, in the order they joined it, all under one light. Each
// has its own address, registers and gain error; two may share an address.
class Line {
public:
    // More than RS-485 allows on one segment, and more than an address search covers.
    static constexpr std::size_t kMaxModules = 64;

    Line(int baud, std::uint32_t seed, std::optional<double> light, const ModuleOptions &defaults)
        : baud_(baud), seed_(seed), light_(light), defaults_(defaults) {}

    // Connects a module. False, with `error` filled, when the line is full or its pty
    // cannot be had.
    bool Add(const ModuleWanted &wanted, std::string &error);
    // Disconnects every module at `address`: how many there were.
    std::size_t Pull(int address);

    const std::vector<std::unique_ptr<Module>> &Modules() const { return modules_; }
    bool Has(int id) const;
    Light &TheLight() { return light_; }

    // For the ready line and the diagnostics: "address 1", "addresses 3,5,5", "no module".
    std::string Addresses() const;

private:
    int baud_;
    std::uint32_t seed_;
    Light light_;
    ModuleOptions defaults_;
    int joined_ = 0; // modules ever added; each one's id
    std::vector<std::unique_ptr<Module>> modules_;
};

} // namespace sensorsim
