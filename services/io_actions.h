// The Hardware IO dialog's powers, for the io command and the server's IO panel: one action at
// a time on the installed port, from values as the dialog takes them (hexadecimal).
#pragma once
#include <cstdint>
#include <string>

// The values given, as texts (empty: not given). At most one action: data, control, register
// (with value), icr or reset_read; none is a read.
struct io_texts {
    std::string data;      // write the data register
    std::string control;   // write the control register (pin levels, as the dialog shows it)
    std::string reg;       // set a hardware register...
    std::string value;     // ...to this value
    std::string icr;       // set the internal control register (one strobe)
    bool reset_read = false;
};

struct io_action {
    enum { read, write_data, write_control, set_register, set_icr, reset_read } kind;
    uint8_t reg;
    uint8_t value;
};

// The largest value each field takes: 0xff, and 0x1f for a register number and the internal
// control register.
unsigned io_field_limit(const std::string& field);

// The action for the texts, or false with the field it refuses ("data", "value"...) and why
// ("'zz' is not a hexadecimal value in 0x0..0xff").
bool io_action_from_texts(const io_texts& texts, io_action& action, std::string& field, std::string& message);

// Does the action on the installed port (a read does nothing).
void perform_io_action(const io_action& action);
