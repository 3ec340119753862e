#include "cli/linearity_command.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/output_file_linux.h"
#include "cli/output_options.h"
#include "cli/terminal.h"
#include "services/linearity_info.h"
#include "services/linearity_plot_cairo.h"

CLI::App* add_linearity_command(CLI::App& app, linearity_options& o) {
    CLI::App* c = app.add_subcommand("linearity", "The converters' linearity by the code-density test (IEEE 1241) "
                                                  "of a capture of a triangle or a sine that spans their range: DNL "
                                                  "and INL of every code, missing codes; in Single Channel each "
                                                  "converter, and the offset and gain between them");
    c->add_option("file", o.file, "The .dso capture file, or - for standard input")->required()->type_name("FILE.dso");
    c->add_option("--channel", o.channel, "The analogue channel to test (every one unless given)")
        ->check(CLI::IsMember({"A", "B"}, CLI::ignore_case));
    c->add_option("--signal", o.signal, "The signal's shape: a sine's codes are corrected by its arcsine "
                                        "distribution; detect tells them apart by the histogram")
        ->check(CLI::IsMember({"detect", "sine", "triangle"}, CLI::ignore_case))
        ->capture_default_str();
    c->add_flag("--json", o.json, "Print the results as one JSON object, DNL and INL of every judged code in LSB");
    c->add_option("-o,--output", o.output, "Plot DNL and INL against the code into this file: .png, .svg or .pdf")
        ->type_name("FILE");
    c->footer("Exit status: 0 tested; 1 no channel could be tested (no analogue channel, a signal that spans too "
              "few codes, too few samples), or a damaged header; 2 a bad command line; 5 a file that cannot be read "
              "or written.\n");
    return c;
}

int run_linearity_command(const linearity_options& o) {
    linearity_signal signal = linearity_signal::detect;
    linearity_signal_from_name(lower_case(o.signal), signal);
    std::vector<output_request> plots;
    if (!o.output.empty()) {
        const output_format format = output_format_for(
            o.output, "", {output_format::png, output_format::svg, output_format::pdf}, -1);
        plots.push_back({o.output, format, {}});
    }
    struct stat input;
    load_capture(o.file, input);
    if (const int refused = check_outputs(plots, &input)) return refused;
    const dso_record& r = dso_structure;
    const std::string damage = header_damage(r);
    std::string channels = linearity_channels(r);
    if (!o.channel.empty()) {
        const char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(o.channel[0])));
        if (channels.find(wanted) == std::string::npos) {
            print_message("%s: a %s capture has no channel %c to test%s", input_name(o.file).c_str(),
                          capture_mode_title(r.capture_mode) ? capture_mode_title(r.capture_mode) : "damaged", wanted,
                          channels.empty() ? "" : (std::string("; it has ") + channels).c_str());
            return EXIT_WARNING;
        }
        channels = std::string(1, wanted);
    }
    if (channels.empty()) {
        print_message("%s: the capture has no analogue channel to test", input_name(o.file).c_str());
        return EXIT_WARNING;
    }
    std::vector<std::unique_ptr<capture_linearity>> results;
    bool tested = false;
    for (const char channel : channels) {
        results.push_back(std::make_unique<capture_linearity>());
        capture_linearity_test(r, channel, signal, *results.back());
        tested = tested || results.back()->whole.gap == linearity_gap::none;
    }
    if (o.json) {
        nlohmann::ordered_json j;
        j["file"] = input_name(o.file);
        j["mode"] = mode_option_name(r.capture_mode) ? nlohmann::ordered_json(mode_option_name(r.capture_mode))
                                                     : nlohmann::ordered_json(nullptr);
        j["channels"] = nlohmann::ordered_json::array();
        for (const auto& result : results) j["channels"].push_back(capture_linearity_json(*result));
        std::printf("%s\n", j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    } else {
        std::printf("File         %s\n", input_name(o.file).c_str());
        std::printf("Test         code density (IEEE 1241): DNL and INL in LSB, the lowest and highest code "
                    "reached not judged\n\n");
        for (const auto& result : results) std::fputs(capture_linearity_text(*result).c_str(), stdout);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        print_report_line(7, "linearity", std::string("standard output: ") + std::strerror(errno));
        return EXIT_FILE;
    }
    if (!plots.empty()) {
        std::vector<const capture_linearity*> shown;
        for (const auto& result : results) shown.push_back(result.get());
        const char* extension = plots[0].format == output_format::svg ? "svg"
                                : plots[0].format == output_format::pdf ? "pdf"
                                                                        : "png";
        std::string bytes;
        std::string title = input_name(o.file);
        if (title.rfind('/') != std::string::npos) title = title.substr(title.rfind('/') + 1);
        if (!linearity_plot(shown, "Converter linearity: " + title, extension, bytes)) {
            print_report_line(7, "linearity", plots[0].name + ": the plot could not be drawn");
            return EXIT_FILE;
        }
        output_file out;
        file_failure failure;
        if (!open_output(plots[0].plan, out, false, failure) || !write_output_bytes(out, bytes.data(), bytes.size()) ||
            !commit_output(out, failure)) {
            if (failure.what.empty()) failure = out.failure;
            abandon_output(out);
            report_file_failure(failure, "linearity");
        }
    }
    if (!damage.empty()) {
        print_header_damage(o.file, damage);
        return EXIT_WARNING;
    }
    return tested ? EXIT_SUCCESS_STATUS : EXIT_WARNING;
}
