// The files written from a capture (the .dso image, the exports for other tools and the
// pictures), each through the safe replacement of capture/output_file_linux.h, or the same
// bytes into memory for the server's downloads; and what an export of a capture holds.
#pragma once
#include <memory>
#include <string>

#include "capture/capture_channels.h"
#include "capture/dso_structure.h"
#include "capture/output_file_linux.h"
#include "services/channel_settings.h"
#include "services/formats.h"
#include "services/picture_cairo.h"
#include "services/protocol_decode_srd.h"

// One file to write. A name whose extension names another format than the one chosen is a
// mistake of the command line: never are one format's bytes written under another's name.
struct output_request {
    std::string name;
    output_format format;
    output_plan plan;
};

// What the outputs of one capture hold: the record, its channels (vcd, wav, sr; wav: the
// analogue ones), the samples first..last, and for pictures what they draw.
struct output_content {
    const dso_record* record = &dso_structure;  // the window's record unless another is given
    capture_channel channels[MAX_CAPTURE_CHANNELS];
    int count = 0;
    int32_t first = 0;
    int32_t last = 0;
    picture_subject picture;
    std::shared_ptr<const decode_result> decoded;  // pictures: rows of decoded annotations below
    // vcd and sr: each analogue channel's scale and unit, where scaled is set.
    bool scaled = false;
    analogue_scale scales[MAX_CAPTURE_CHANNELS];
    std::string units[MAX_CAPTURE_CHANNELS];
};

// Gives the content's analogue channels the scales the settings give them (a channel with no
// volts per code stays in codes), for the vcd and sr writers.
void apply_channel_scales(const channel_settings& settings, output_content& content);

// Fills content with the record, every channel and sample of its mode.
void whole_capture(const dso_record& record, output_content& content);

// Writes the content in the request's format. false with the failure (the file stays as it
// was); the caller reports it.
bool write_capture_output(const output_request& request, const output_content& content, file_failure& failure);

// The same bytes into memory (the server's downloads): what a file of that format would hold.
bool write_capture_bytes(output_format format, const output_content& content, std::string& bytes,
                         file_failure& failure);

// An export of a capture as the options ask for it (format, channels, range), checked before
// any file is read: false with the option it refuses ("--channels") and why.
struct export_request {
    output_format format = output_format::csv;
    bool ranged = false;
    int64_t first = 0;
    int64_t last = 0;
    std::string channels;    // empty: every channel of the mode
    std::string range_text;  // as given, for messages
};
bool export_request_refusal(export_request& request, std::string& option, std::string& message);

// The content of that export of the record (read from name): 0, or the exit status (1 nothing
// to write in that format or a damaged header, 2 a mistake of the request) with the message.
int prepare_export(const std::string& name, const dso_record& record, const export_request& request,
                   output_content& content, std::string& message);
