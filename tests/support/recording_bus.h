// A port bus for tests: records every access in order and answers reads from a script.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "hardware/port.h"

struct port_access {
    bool is_write;
    uint16_t address;
    uint8_t value;
    bool operator==(const port_access& o) const {
        return is_write == o.is_write && address == o.address && value == o.value;
    }
};

inline port_access out_at(uint16_t address, uint8_t value) { return {true, address, value}; }
inline port_access in_at(uint16_t address, uint8_t value) { return {false, address, value}; }

class recording_bus : public port_bus {
public:
    // Answers a read at an address; by default every line reads high.
    std::function<uint8_t(uint16_t)> reader = [](uint16_t) -> uint8_t { return 0xFF; };
    std::vector<port_access> log;

    uint8_t in(uint16_t address) override {
        uint8_t v = reader(address);
        log.push_back(in_at(address, v));
        return v;
    }
    void out(uint16_t address, uint8_t value) override { log.push_back(out_at(address, value)); }

    // The raw values written to one register, in order.
    std::vector<uint8_t> writes_to(uint16_t address) const {
        std::vector<uint8_t> v;
        for (const port_access& a : log)
            if (a.is_write && a.address == address) v.push_back(a.value);
        return v;
    }
};

// Installs a bus for the lifetime of a scope and puts the empty port back afterwards.
class scoped_bus {
public:
    explicit scoped_bus(port_bus& bus) { set_port_bus(&bus); }
    ~scoped_bus() { set_port_bus(nullptr); }
    scoped_bus(const scoped_bus&) = delete;
    scoped_bus& operator=(const scoped_bus&) = delete;
};
