// The capture command's options as the header of the record, and the command lines that
// korvane-cli refuses.
#include <gtest/gtest.h>

#include <string>

#include "capture/dso_structure.h"
#include "cli/capture_command.h"
#include "cli/terminal.h"
#include "cli/io_command.h"

namespace {

struct parsed {
    capture_header header{};
    std::string error;  // what() of the refusal, empty when accepted
};

parsed capture_line(const std::string& arguments) {
    CLI::App app;
    capture_options options;
    CLI::App* command = add_capture_command(app, options);
    parsed result;
    try {
        app.parse("capture -o a.dso " + arguments, false);
        refuse_empty_values(*command);
        result.header = capture_header_from_options(*command, options);
        capture_outputs_from_options(*command, options, result.header);
    } catch (const CLI::ParseError& e) {
        result.error = e.what();
        if (result.error.empty()) result.error = "refused";
    }
    return result;
}

TEST(CaptureOptions, HeaderAsStartCaptureStoresIt) {
    // A level is stored plus 127; a pattern as it is; External and None store 0, as a fresh
    // settings dialog does.
    const struct {
        const char* arguments;
        int8_t mode, source;
        uint16_t value;
        int32_t edge;
        int8_t rate;
        int32_t pretrigger;
    } lines[] = {
        {"--mode dual --trigger a --level 40", MODE_DUAL, TRIGGER_CHANNEL_A, 167, 0, 0, 0},
        {"--mode mixed --trigger b --level -126 --edge falling --rate 12.5MHz --pretrigger 393215", MODE_MIXED,
         TRIGGER_CHANNEL_B, 1, 1, 2, 0x5FFFF},
        {"--mode logic16 --trigger a --pattern 0xBEEF --rate 5", MODE_LOGIC16, TRIGGER_CHANNEL_A, 0xBEEF, 0, 5, 0},
        {"--mode mixed --trigger a --pattern 45", MODE_MIXED, TRIGGER_CHANNEL_A, 0x45, 0, 0, 0},
        {"--mode single --trigger none", MODE_SINGLE, TRIGGER_NONE, 0, 0, 0, 0},
        // Names and units in any case.
        {"--mode MIXED --trigger B --level -1 --edge Falling --rate 25MHZ", MODE_MIXED, TRIGGER_CHANNEL_B, 126, 1, 1, 0},
        {"", MODE_DUAL, TRIGGER_EXTERNAL, 0, 0, 0, 0},
    };
    for (const auto& l : lines) {
        const parsed p = capture_line(l.arguments);
        ASSERT_EQ(p.error, "") << l.arguments;
        const capture_header& h = p.header;
        EXPECT_EQ(h.capture_mode, l.mode) << l.arguments;
        EXPECT_EQ(h.trigger_source, l.source) << l.arguments;
        EXPECT_EQ(h.trigger_value, l.value) << l.arguments;
        EXPECT_EQ(h.trigger_edge, l.edge) << l.arguments;
        EXPECT_EQ(h.sample_rate_index, l.rate) << l.arguments;
        EXPECT_EQ(h.pretrigger, l.pretrigger) << l.arguments;
    }
}

TEST(CaptureOptions, RatesAsTheDialogListsThemOrByIndex) {
    // Single Channel lists the trace rate, twice the converters' at the same index.
    EXPECT_EQ(rate_index_from_text("100MHz", MODE_SINGLE), 0);
    EXPECT_EQ(rate_index_from_text("6.3 MHz", MODE_SINGLE), 4);
    EXPECT_EQ(rate_index_from_text("6.3MHz", MODE_DUAL), 3);
    EXPECT_EQ(rate_index_from_text("6.25mhz", MODE_LOGIC16), 3);
    EXPECT_EQ(rate_index_from_text("1.6MHz", MODE_MIXED), 5);
    EXPECT_EQ(rate_index_from_text("1562.5kHz", MODE_DUAL), 5);
    EXPECT_EQ(rate_index_from_text("3", MODE_DUAL), 3);
    EXPECT_EQ(rate_index_from_text("50", MODE_DUAL), 0);
    EXPECT_EQ(rate_index_from_text("100MHz", MODE_DUAL), -1);
    EXPECT_EQ(rate_index_from_text("1.6MHz", MODE_SINGLE), -1);
    EXPECT_EQ(rate_index_from_text("7", MODE_DUAL), -1);
    EXPECT_EQ(rate_index_from_text("fast", MODE_DUAL), -1);
    EXPECT_EQ(rate_index_from_text("50GHz", MODE_DUAL), -1);
}

TEST(CaptureOptions, RefusalsNameTheOptionAndWhatItTakes) {
    const struct {
        const char* arguments;
        const char* names;  // the option, and a piece of what it accepts
        const char* accepts;
    } refused[] = {
        {"--mode quad", "--mode", "dual"},
        {"--rate 100MHz", "--rate", "50MHz"},
        {"--level 128 --trigger a", "--level", "127"},
        {"--pretrigger 393216", "--pretrigger", "393215"},
        {"--mode single --trigger b", "--trigger", "a, external or none"},
        {"--mode logic16 --trigger b", "--trigger", "a, external or none"},
        {"--mode logic16 --trigger a --level 3", "--level", "--pattern"},
        {"--mode dual --trigger a --pattern 0x12", "--pattern", "logic16 or mixed"},
        {"--mode mixed --trigger a --pattern 0x100", "--pattern", "8 bits"},
        {"--mode logic16 --trigger a --pattern 0x1g", "--pattern", "16 bits"},
        {"--mode logic16 --trigger a --edge falling", "--edge", "pattern"},
        {"--trigger none --pretrigger 5", "--pretrigger", "none"},
        {"--trigger external --level 5", "--level", "analogue"},
        {"--port 0x300", "--port", "0x378"},
        {"--timeout 0", "--timeout", "seconds above 0"},
        {"--trigger a --level 40.5", "--level", "whole number"},
        {"--format csv", "--output", "says dso"},
        {"--mode logic16 -o b.wav", "--output", "no analogue channel"},
        {"--size 900x700", "--size", "no output is a png"},
    };
    for (const auto& r : refused) {
        parsed p = capture_line(r.arguments);
        EXPECT_NE(p.error.find(r.names), std::string::npos) << r.arguments << ": " << p.error;
        EXPECT_NE(p.error.find(r.accepts), std::string::npos) << r.arguments << ": " << p.error;
    }
    EXPECT_NE(capture_line("--bogus").error, "");
}

TEST(IoOptions, HexadecimalValuesWithinTheirRegisters) {
    io_options o;
    o.reg = "3";
    o.value = "0x10";
    io_action a = io_action_from_options(o);
    EXPECT_EQ(a.kind, io_action::set_register);
    EXPECT_EQ(a.reg, 3);
    EXPECT_EQ(a.value, 0x10);

    io_options too_wide;
    too_wide.control = "0x1ff";
    EXPECT_THROW(io_action_from_options(too_wide), CLI::ValidationError);
    io_options not_hex;
    not_hex.icr = "0x";
    EXPECT_THROW(io_action_from_options(not_hex), CLI::ValidationError);
    io_options icr_too_wide;
    icr_too_wide.icr = "0x20";
    EXPECT_THROW(io_action_from_options(icr_too_wide), CLI::ValidationError);
}

}  // namespace

namespace {

TEST(CaptureFiles, HeadersThatNoCaptureOfThisProgramHasAreNamed) {
    static dso_record r;
    r.capture_mode = MODE_MIXED;
    r.trigger_source = TRIGGER_NONE;
    r.sample_rate_index = -1;  // the window's "no rate chosen" is a header it writes
    r.pretrigger = 0x5FFFF;
    r.trigger_edge = 1;
    EXPECT_EQ(header_damage(r), "");
    r.capture_mode = 54;
    r.sample_rate_index = 6;
    r.trigger_source = -1;
    r.trigger_edge = 2;
    r.pretrigger = 0x60000;
    EXPECT_EQ(header_damage(r), "mode 54, rate index 6, trigger source -1, edge 2, pre-trigger 393216");
}

}  // namespace
