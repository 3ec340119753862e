// Protocol decoding of a capture's logic inputs through libsigrokdecode, the field's decoder
// library, with all of its decoders. The logic samples go in as the record holds them, in the
// mode's unit size (2 bytes in 16 Bit Logic, 1 in Mixed Mode: input N is bit N % 8 of byte
// N / 8), with absolute sample numbers, the end excluded.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "capture/dso_structure.h"

struct decoded_annotation {
    uint64_t start;             // sample numbers of the capture
    uint64_t end;
    std::string decoder;        // its id: "uart"
    std::string instance;       // "uart", or "uart-2" for the second of a kind
    std::string class_name;     // "rx-data"
    std::string row;            // the row the class belongs to ("rx-data"), or empty
    std::string row_description;
    int row_order;              // where the decoder declares the row (its classes without a row after)
    std::vector<std::string> texts;  // longest first
};

// The bytes a decoder passed on as binary output of one class, in order ("uart" "rx": what
// the RX line carried).
struct decoded_bytes {
    std::string instance;
    std::string class_name;   // "rx", "data-write"
    std::string description;  // "RX dump"
    std::string data;
};

struct decode_result {
    double rate_hz = 0;
    std::vector<std::string> instances;           // in the order of the stacks, bottom first
    std::vector<decoded_annotation> annotations;  // in the order the decoders gave them
    std::vector<decoded_bytes> bytes;             // per instance and class, as they first came
    bool cut_short = false;                       // a limit stopped the decoding: what came before it
    std::string cut_short_reason;                 // "stopped after 200000 annotations"
};

// What a decoding may keep and take; 0 for no limit.
struct decode_limits {
    size_t max_annotations = 0;
    size_t max_bytes = 0;  // of the annotations' texts and names and of the decoders' bytes
    double max_seconds = 0;
};

// At most this many stacks and this many selections of classes in one decoding.
constexpr size_t MAX_DECODE_STACKS = 16;
constexpr size_t MAX_DECODE_FILTERS = 64;

// A text of a decoder on one line: a backslash as \\, line breaks, tabs and the other control
// characters as C escapes (\n, \r, \t, \xNN), the rest as it is.
std::string one_line_text(const std::string& text);
// Bytes as a quoted text by the same rule, and \" escaped, every byte beyond ASCII as \xNN.
std::string quoted_bytes(const std::string& data);

// The bytes a result holds, for the bounds of what is kept.
size_t decode_result_bytes(const decode_result& result);

// Every decoder of the library loaded, so that none is loaded later (the server, at its start).
void preload_decoders_of_library();
// A decoder's whole Python traceback on standard error, besides the one line of the message.
void set_decode_verbose(bool verbose);

// Decodes samples first..last of the record with the stacks, each a stack of decoders as
// sigrok-cli's -P takes it ("uart:rx=D0:baudrate=115200", "i2c:scl=D6:sda=D7,eeprom24xx"),
// keeping the annotations that the filters select (each as sigrok-cli's -A: "uart",
// "uart=rx-data:tx-data", rows standing for their classes; none: every annotation). Channels
// are named D0..D15 (or given as numbers). Returns 0, or the exit status with the message:
// 1 the capture has no logic inputs (Dual Channel, Single Channel) or a decoder failed; 2 a
// mistake in the stacks (an unknown decoder, option or class, a value of the wrong
// type, a channel the mode does not have, a name that is none of the library's decoders,
// decoders that cannot be stacked, more than MAX_DECODE_STACKS stacks or MAX_DECODE_FILTERS
// filters). A filter may hold several, comma-separated ("uart=rx-data,spi"). The annotations
// carry the capture's sample numbers, a range's too. Decodings are one at a time (the library
// is not to be entered twice).
int decode_capture(const dso_record& record, int32_t first, int32_t last, const std::vector<std::string>& stacks,
                   const std::vector<std::string>& filters, decode_result& result, std::string& message,
                   const decode_limits& limits = {});

// The decoders, a line each ("uart  UART: Universal Asynchronous Receiver/Transmitter").
std::string decoder_list_text();
nlohmann::ordered_json decoder_list_json();
// One decoder's options (with their defaults and values), channels and annotation classes
// and rows; false with the message for a name that is none of the library's decoders.
bool decoder_description(const std::string& id, std::string& text, nlohmann::ordered_json& json, std::string& message);

// The annotations and the bytes as decode --json writes them.
nlohmann::ordered_json decode_json(const decode_result& result);
