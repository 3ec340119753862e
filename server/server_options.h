// How korvane-cli serve listens, and the bounds it keeps every client to.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct server_options {
    std::string host = "127.0.0.1";  // the address to listen on (IPv4)
    int port = 8080;                 // 0: any free port
    std::string token;               // empty: no token asked for (the loopback address)
    size_t max_pages = 64;           // pages watching the live state at once
    size_t max_per_address = 128;    // connections from one address (pages included)
    size_t max_connections = 1024;   // connections in all
    double request_seconds = 10;     // a request's headers and body must arrive within this
    size_t decode_queue = 4;         // decodes waiting for the decoder library
    size_t picture_queue = 32;       // pictures, exports and measurements waiting for a thread
    bool verbose = false;            // the decoders' tracebacks on the server's output
    // Downloads in gzip where the client takes it: for clients on other machines (auto), where
    // the bytes cross a network; on this machine they cost more to pack than to send.
    enum class compression { automatic, always, never } compress = compression::automatic;
};

// A picture from the server, with its decoded rows, has at most this many pixels (128 MiB
// while it is drawn), and at most this many a side.
constexpr uint64_t MAX_SERVED_PIXELS = uint64_t{32} << 20;
constexpr int32_t MAX_SERVED_SIDE = 16384;
// One request decodes at most this many stacks and selects at most this many classes.
constexpr size_t MAX_STACKS = 16;
constexpr size_t MAX_FILTERS = 64;
// A decode keeps at most this many annotations and bytes, and runs at most this long; the
// decodings kept for the page's rows take at most this many bytes together.
constexpr size_t MAX_DECODED_ANNOTATIONS = 200000;
constexpr size_t MAX_DECODED_BYTES = size_t{32} << 20;
constexpr double MAX_DECODE_SECONDS = 20;
constexpr size_t DECODE_CACHE_BYTES = size_t{64} << 20;
// Bodies of JSON, and .dso uploads being received at once.
constexpr size_t MAX_JSON_BODY = 64 * 1024;
constexpr size_t MAX_UPLOADS_AT_ONCE = 8;
