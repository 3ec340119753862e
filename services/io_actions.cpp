#include "services/io_actions.h"

#include <cstdio>

#include "hardware/capture_sequence.h"
#include "hardware/port.h"
#include "services/text_values.h"

unsigned io_field_limit(const std::string& field) { return field == "register" || field == "icr" ? 0x1F : 0xFF; }

bool io_action_from_texts(const io_texts& t, io_action& a, std::string& field, std::string& message) {
    // A hexadecimal number as the dialog takes it (3f or 0x3f), no larger than the field's limit.
    const auto hex = [&](const char* name, const std::string& text, uint8_t& out) {
        const unsigned limit = io_field_limit(name);
        uint32_t v = 0;
        if (parse_hex_value(text, limit, v)) {
            out = static_cast<uint8_t>(v);
            return true;
        }
        char range[24];
        std::snprintf(range, sizeof range, "0x0..0x%x", limit);
        field = name;
        message = "'" + text + "' is not a hexadecimal value in " + range;
        return false;
    };
    a = {io_action::read, 0, 0};
    if (!t.data.empty() && !(a.kind = io_action::write_data, hex("data", t.data, a.value))) return false;
    if (!t.control.empty() && !(a.kind = io_action::write_control, hex("control", t.control, a.value))) return false;
    if (!t.reg.empty() && !(a.kind = io_action::set_register, hex("register", t.reg, a.reg) && hex("value", t.value, a.value)))
        return false;
    if (!t.icr.empty() && !(a.kind = io_action::set_icr, a.reg = 0, hex("icr", t.icr, a.value))) return false;
    if (t.reset_read) a = {io_action::reset_read, 0, 0};
    return true;
}

void perform_io_action(const io_action& a) {
    switch (a.kind) {
    case io_action::read: break;
    case io_action::write_data: write_data(a.value); break;
    case io_action::write_control: write_control(a.value); break;
    case io_action::set_register: write_register(a.reg, a.value); break;
    case io_action::set_icr: strobe_control(a.value); break;
    case io_action::reset_read: reset_read(); break;
    }
}
