#include "hardware/port.h"

#include "app/error_handler.h"

namespace {

struct empty_port final : port_bus {
    uint8_t in(uint16_t) override { return 0xFF; }
    void out(uint16_t, uint8_t) override {}
};

empty_port nothing_attached;

}  // namespace

port_bus* active_port_bus = &nothing_attached;
uint16_t port_address = LPT1_ADDRESS;

void set_port_bus(port_bus* bus) { active_port_bus = bus ? bus : &nothing_attached; }

void write_register(uint8_t reg, uint8_t value) {
    write_data(value);  // the port latches the byte even while its lines are inputs
    strobe_control(ICR_IDLE);
    strobe_control(reg);
    strobe_control(ICR_IDLE);
}

uint8_t read_register(uint8_t reg) {
    strobe_control(static_cast<uint8_t>(reg | ICR_DATA_IN));
    uint8_t b = read_data();
    strobe_control(ICR_IDLE);
    return b;
}

bool check_bidirectional() {
    active_port_bus->out(port_address + PORT_ECR, 0x20);  // byte mode: the direction bit works
    write_control(0x2B);
    write_data(0xAA);
    return read_data() != 0xAA;  // a port that cannot turn its lines round reads its latch
}

void set_port_address(uint16_t address, bool check) {
    port_address = address;
    if (check && !check_bidirectional()) error_handler(10, "Main", "");
}

uint16_t get_port_address() { return port_address; }
