#include "cli/output_options.h"

#include <algorithm>

#include "app/error_handler.h"
#include "cli/terminal.h"

output_format output_format_for(const std::string& name, const std::string& format_option,
                                const std::vector<output_format>& exportable, int fallback, const char* option) {
    const auto allowed = [&](output_format f) { return std::find(exportable.begin(), exportable.end(), f) != exportable.end(); };
    output_format by_name = output_format::dso;
    const bool named = name != "-" && format_from_extension(name, by_name);
    if (!format_option.empty()) {
        output_format chosen = output_format::dso;
        if (!format_from_name(format_option, chosen) || !allowed(chosen))
            throw CLI::ValidationError("--format", "'" + format_option + "' is not a format here; use " +
                                                       format_names(exportable));
        if (named && by_name != chosen)
            throw CLI::ValidationError(option, "the name '" + name + "' says " + format_of(by_name).name +
                                                   ", but --format asks for " + format_of(chosen).name +
                                                   "; make the two agree");
        return chosen;
    }
    if (named) {
        if (!allowed(by_name))
            throw CLI::ValidationError(option, std::string("this command does not write ") + format_of(by_name).name +
                                                   " files; it writes " + format_names(exportable));
        return by_name;
    }
    if (fallback >= 0) return static_cast<output_format>(fallback);
    throw CLI::ValidationError(option, name == "-" ? "standard output needs --format (" + format_names(exportable) + ")"
                                                   : "cannot tell the format from the name '" + name + "'; end it in " +
                                                         format_names(exportable) + " or give --format");
}

int check_outputs(std::vector<output_request>& outputs, const struct stat* input) {
    for (output_request& o : outputs) {
        file_failure failure;
        if (!plan_output(o.name, o.plan, failure)) report_file_failure(failure, format_of(o.format).routine);
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        const output_plan& p = outputs[i].plan;
        if (input != nullptr && is_same_file(p, *input)) {
            print_message("%s is the input file; writing it would destroy the capture before it is read. Give "
                          "another name",
                          outputs[i].name.c_str());
            return EXIT_USAGE;
        }
        if (p.terminal && format_of(outputs[i].format).binary) {
            print_message("a %s file is not for a terminal; give a file name, or send standard output to a file or "
                          "a program",
                          format_of(outputs[i].format).name);
            return EXIT_USAGE;
        }
        for (size_t j = 0; j < i; ++j) {
            if (is_same_output(p, outputs[j].plan)) {
                print_message("%s and %s are the same file; each output needs a file of its own",
                              outputs[j].name.c_str(), outputs[i].name.c_str());
                return EXIT_USAGE;
            }
        }
    }
    return 0;
}

int write_one_output(const std::string& input_path, const std::string& output, output_format format,
                     const std::function<int(output_content&, std::string&)>& prepare) {
    struct stat input;
    load_capture(input_path, input);
    output_content content;
    whole_capture(dso_structure, content);
    std::string message;
    if (const int refused = prepare(content, message)) {
        print_message("%s", message.c_str());
        return refused;
    }
    std::vector<output_request> outputs = {{output, format, {}}};
    if (const int refused = check_outputs(outputs, &input)) return refused;
    file_failure failure;
    if (!write_capture_output(outputs[0], content, failure)) report_file_failure(failure, format_of(format).routine);
    return EXIT_SUCCESS_STATUS;
}

void report_file_failure(const file_failure& failure, const char* routine) {
    error_handler(failure.code != 0 ? failure.code : 7, routine, failure.what.c_str());
}
