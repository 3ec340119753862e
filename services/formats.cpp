#include "services/formats.h"

#include "services/text_values.h"

namespace {

const format_info FORMATS[] = {
    {output_format::dso, "dso", ".dso", "save_dso_structure", true, false, "the capture itself, as the window saves it",
     "application/octet-stream"},
    {output_format::csv, "csv", ".csv", "csv_export", false, false,
     "one line of decimal values per sample, as the window exports it", "text/csv; charset=us-ascii"},
    {output_format::vcd, "vcd", ".vcd", "vcd_export", false, false,
     "Value Change Dump for GTKWave, sigrok-cli and PulseView", "text/plain; charset=us-ascii"},
    {output_format::wav, "wav", ".wav", "wav_export", true, false, "8-bit PCM of the analogue channels", "audio/wav"},
    {output_format::sr, "sr", ".sr", "sigrok_session", true, true, "a sigrok session for PulseView and sigrok-cli",
     "application/zip"},
    {output_format::png, "png", ".png", "render_picture", true, false, "a picture of the window's drawing", "image/png"},
    {output_format::svg, "svg", ".svg", "render_picture", false, false, "the window's drawing as a vector picture",
     "image/svg+xml"},
    {output_format::pdf, "pdf", ".pdf", "render_picture", true, false, "the window's drawing as a PDF page",
     "application/pdf"},
};

}  // namespace

const format_info& format_of(output_format format) {
    for (const format_info& f : FORMATS)
        if (f.format == format) return f;
    return FORMATS[0];
}

std::string format_names(const std::vector<output_format>& list) {
    std::string names;
    for (output_format f : list) names += (names.empty() ? "" : ", ") + std::string(format_of(f).name);
    return names;
}

bool format_from_name(const std::string& text, output_format& format) {
    for (const format_info& f : FORMATS) {
        if (lower_case(text) == f.name) {
            format = f.format;
            return true;
        }
    }
    return false;
}

bool format_from_extension(const std::string& file_name, output_format& format) {
    for (const format_info& f : FORMATS) {
        if (ends_with_ignoring_case(file_name, f.extension)) {
            format = f.format;
            return true;
        }
    }
    return false;
}
