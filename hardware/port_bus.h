// The port-bus seam: one byte in or out at an I/O address. Behind it sit the real port
// (Windows), the simulated capture hardware, or a recording bus in tests.
#pragma once
#include <cstdint>

struct port_bus {
    virtual ~port_bus() = default;
    virtual uint8_t in(uint16_t address) = 0;
    virtual void out(uint16_t address, uint8_t value) = 0;
};

// The bus every port access goes through. Until one is installed it is a port with nothing
// attached: writes vanish and every line reads high.
extern port_bus* active_port_bus;

// Installs a bus; nullptr restores the empty port.
void set_port_bus(port_bus* bus);
