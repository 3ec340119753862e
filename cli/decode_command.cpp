#include "cli/decode_command.h"

#include <cstdio>

#include "capture/capture_channels.h"
#include "capture/dso_structure.h"
#include "cli/terminal.h"
#include "services/protocol_decode_srd.h"

namespace {

// A time as the lines give it: "24.680 µs".
std::string time_text(double seconds) {
    const struct {
        double scale;
        const char* unit;
    } units[] = {{1, "s"}, {1e-3, "ms"}, {1e-6, "µs"}, {1e-9, "ns"}};
    for (const auto& u : units) {
        if (seconds >= u.scale || u.scale == 1e-9) {
            char text[32];
            std::snprintf(text, sizeof text, "%.3f %s", seconds / u.scale, u.unit);
            return text;
        }
    }
    return "0 s";
}

}  // namespace

CLI::App* add_decode_command(CLI::App& app, decode_options& o) {
    CLI::App* c = app.add_subcommand("decode", "Decode the logic inputs of a capture with the field's protocol decoders "
                                               "(libsigrokdecode): UART, SPI, I2C, 1-Wire, CAN and a hundred more");
    c->add_option("file", o.file, "The .dso capture file, or - for standard input")->type_name("FILE.dso");
    c->add_option("-P,--protocol-decoders", o.stacks,
                  "A decoder with its options and channels, as sigrok-cli takes it: uart:rx=D0:baudrate=115200; a "
                  "comma stacks decoders (i2c:scl=D6:sda=D7,eeprom24xx); each -P is a stack of its own")
        ->type_name("STACK");
    c->add_option("-A,--protocol-decoder-annotations", o.filters,
                  "Show only these annotations, as sigrok-cli: uart, or uart=rx-data:tx-data (classes or rows); a "
                  "comma separates decoders (uart=rx-data,spi)")
        ->type_name("DECODER[=CLASS[:CLASS]]");
    c->add_option("--range", o.range, "Only samples FIRST to LAST, by the View Range rules")->type_name("FIRST:LAST");
    c->add_flag("--json", o.json, "Print the annotations as one JSON document");
    c->add_flag("--list", o.list, "List the decoders");
    c->add_flag("-v,--verbose", o.verbose, "Print a failing decoder's whole Python traceback");
    c->add_option("--show", o.show, "Show a decoder's options, channels and annotation classes")->type_name("DECODER");
    c->footer("Each annotation is a line: its samples, its time, the decoder, the annotation class and its text "
              "(its line breaks, tabs and other control characters written \\n, \\t, \\xNN). Then each decoder's bytes, "
              "quoted: printable ASCII as it is, \\\\ and \\\" escaped, line breaks and tabs as in the texts, every other "
              "byte \\xNN.\n"
              "Exit status: 0 decoded; 1 the capture has no logic inputs (Dual, Single), no sample rate, a damaged "
              "header, or a decoder failed; 2 a bad command line (an unknown decoder, option or class, a value of the "
              "wrong type, a channel the capture's mode does not have); 5 a file that cannot be read.\n");
    return c;
}

int run_decode_command(const decode_options& o) {
    set_decode_verbose(o.verbose);
    if (o.list) {
        if (o.json) std::printf("%s\n", decoder_list_json().dump(2).c_str());
        else std::fputs(decoder_list_text().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : EXIT_FILE;
    }
    if (!o.show.empty()) {
        std::string text, message;
        nlohmann::ordered_json description;
        if (!decoder_description(o.show, text, description, message)) {
            print_message("--show: %s", message.c_str());
            return EXIT_USAGE;
        }
        if (o.json) std::printf("%s\n", description.dump(2).c_str());
        else std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : EXIT_FILE;
    }
    if (o.file.empty()) {
        print_message("decode: give a .dso file and -P STACK (korvane-cli decode --list lists the decoders)");
        return EXIT_USAGE;
    }
    if (o.stacks.empty()) {
        print_message("decode: no decoder: give -P STACK, such as -P uart:rx=D0:baudrate=115200");
        return EXIT_USAGE;
    }
    int64_t first_asked = 0, last_asked = 0;
    if (!o.range.empty() && !parse_sample_range(o.range, first_asked, last_asked)) {
        print_message("--range: %s", range_not_a_range(o.range).c_str());
        return EXIT_USAGE;
    }
    struct stat input;
    load_capture(o.file, input);
    const dso_record& r = dso_structure;
    const std::string damage = header_damage(r);
    if (!damage.empty()) {
        print_header_damage(o.file, damage);
        return EXIT_WARNING;
    }
    int32_t first = 0, last = 0;
    std::string message;
    if (!samples_of_range(o.range, r.capture_mode, first, last, message)) {
        print_message("%s", message.c_str());
        return EXIT_USAGE;
    }
    decode_result result;
    if (const int refused = decode_capture(r, first, last, o.stacks, o.filters, result, message)) {
        print_message("%s", message.c_str());
        return refused;
    }
    if (o.json) {
        nlohmann::ordered_json document = decode_json(result);
        document["file"] = input_name(o.file);
        std::printf("%s\n", document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    } else {
        for (const decoded_annotation& a : result.annotations)
            std::printf("%llu-%llu  %s  %s  %s  %s\n", static_cast<unsigned long long>(a.start),
                        static_cast<unsigned long long>(a.end), time_text(a.start / result.rate_hz).c_str(),
                        a.instance.c_str(), a.class_name.c_str(), a.texts.empty() ? "" : one_line_text(a.texts[0]).c_str());
        // Then what each decoder passed on as bytes, the bus's payload in one line each.
        if (!result.bytes.empty()) std::printf("\n");
        for (const decoded_bytes& b : result.bytes)
            std::printf("%s  %s  %s: %s\n", b.instance.c_str(), b.class_name.c_str(), count_of(static_cast<long long>(b.data.size()), "byte").c_str(),
                        quoted_bytes(b.data).c_str());
    }
    if (std::fflush(stdout) != 0) {
        print_report_line(7, "decode", "standard output: could not be written");
        return EXIT_FILE;
    }
    return EXIT_SUCCESS_STATUS;
}
