#include "server/api.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include "capture/dso_structure.h"
#include "display/paint.h"
#include "display/view_range.h"
#include "hardware/port.h"
#include "services/capture_info.h"
#include "services/capture_names.h"
#include "services/capture_writers.h"
#include "services/channel_settings.h"
#include "services/math_measurements.h"
#include "services/spectrum_report.h"
#include "services/decode_rows_cairo.h"
#include "services/exit_status.h"
#include "services/io_actions.h"
#include "services/linearity_info.h"
#include "services/picture_cairo.h"
#include "services/protocol_decode_srd.h"
#include "services/report_line.h"
#include "services/text_values.h"
#include "server/instrument.h"
#include "server/gzip_body.h"
#include "server/page_files.h"
#include "server/request_text.h"
#include "server/view_picture.h"

using json = nlohmann::json;

namespace {

constexpr char TOKEN_COOKIE[] = "korvane_token";
const char* const NO_STACK = "no decoder: give ?P=STACK, such as P=uart:rx=D0:baudrate=115200";

std::string json_text(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// The value of one cookie of a Cookie header ("a=1; korvane_token=...").
std::string cookie_value(const char* cookies, const char* name) {
    if (cookies == nullptr) return "";
    const std::string text = cookies;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(';', at);
        if (end == std::string::npos) end = text.size();
        size_t start = text.find_first_not_of(' ', at);
        if (start < end) {
            const size_t equals = text.find('=', start);
            if (equals < end && text.compare(start, equals - start, name) == 0) return text.substr(equals + 1, end - equals - 1);
        }
        at = end + 1;
    }
    return "";
}

// A JSON body: the object, or the refusal. Its nesting is bounded before the parser sees it,
// so that nothing recursive (the parser's values, their copies and their destruction) ever
// meets a deep one.
bool json_body(const api_request& request, json& body, api_reply& refusal) {
    const std::string text = request.body.empty() ? "{}" : request.body;
    if (!json_nesting_within(text, MAX_JSON_DEPTH)) {
        refusal = error_reply(400, json_too_deep());
        return false;
    }
    body = json::parse(text, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        refusal = error_reply(400, "the body is not a JSON object");
        return false;
    }
    return true;
}

bool is_path(const std::string& path, const char* prefix) { return path.rfind(prefix, 0) == 0; }

// The decodings' bounds, and whether they were cut short.
int bounded_decode(const dso_record& record, int32_t first, int32_t last, const std::vector<std::string>& stacks,
                   const std::vector<std::string>& filters, decode_result& result, std::string& message) {
    decode_limits limits;
    limits.max_annotations = MAX_DECODED_ANNOTATIONS;
    limits.max_bytes = MAX_DECODED_BYTES;
    limits.max_seconds = MAX_DECODE_SECONDS;
    return decode_capture(record, first, last, stacks, filters, result, message, limits);
}

// A picture of width x height with rows of decoded annotations under it, within the bound of
// every picture the server draws; the refusal's text otherwise.
bool picture_within_bounds(int32_t width, int32_t height, size_t rows, std::string& message) {
    const int64_t total = static_cast<int64_t>(height) + decode_rows_height(rows);
    if (width <= MAX_SERVED_SIDE && total <= MAX_SERVED_SIDE &&
        static_cast<uint64_t>(width) * static_cast<uint64_t>(total) <= MAX_SERVED_PIXELS)
        return true;
    message = "--size: a picture from this server is at most " + std::to_string(MAX_SERVED_SIDE) +
              " pixels a side and " + std::to_string(MAX_SERVED_PIXELS) + " pixels in all; this one would be " +
              std::to_string(width) + "x" + std::to_string(total) +
              (rows > 0 ? " with its " + std::to_string(rows) + " rows of decoded annotations" : std::string()) +
              " (korvane-cli render draws larger ones)";
    return false;
}

// A register value of the Hardware IO panel: a JSON number as it is, a text in hexadecimal
// as the dialog takes it; the text io's options take, or the refusal.
bool register_text(const json& v, unsigned limit, std::string& text, std::string& message) {
    char range[40];
    std::snprintf(range, sizeof range, "0..%u (0x0..0x%x)", limit, limit);
    if (v.is_string()) {
        text = v.get<std::string>();
        if (text.empty()) {
            message = "takes a value, and an empty text is none";
            return false;
        }
        return true;
    }
    if (v.is_number_integer() || v.is_number_float()) {
        const double number = v.get<double>();
        if (!(number >= 0 && number <= limit && std::floor(number) == number) ||
            (v.is_number_integer() && !v.is_number_unsigned())) {
            message = v.dump() + " is not a whole number in " + range;
            return false;
        }
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(number));
        text = hex;
        return true;
    }
    message = "takes a number, or a hexadecimal value as a text (\"5a\" or \"0x5a\")";
    return false;
}

std::string io_field_title(const std::string& field) {
    return field == "icr" ? "ICR" : field.empty() ? field : static_cast<char>(field[0] - 'a' + 'A') + field.substr(1);
}

int exported(const api_request& request, const capture_entry& entry, const std::string& name, output_format format,
             std::string& bytes, std::string& message) {
    export_request r;
    r.format = format;
    r.channels = request.value_or("channels", "");
    r.range_text = request.value_or("range", "");
    std::string option;
    if (export_request_refusal(r, option, message)) {
        message = option + ": " + message;
        return EXIT_USAGE;
    }
    output_content content;
    if (const int refused = prepare_export(name, *entry.record, r, content, message)) return refused;
    file_failure failure;
    if (!write_capture_bytes(r.format, content, bytes, failure)) {
        message = failure.what;
        return EXIT_FILE;
    }
    return 0;
}

// A picture's settings from the query, as render's options give them: false with the message.
bool picture_from_query(const api_request& request, output_format format, picture_request& r, std::string& message) {
    r.format = format;
    const std::string size = request.value_or("size", "800x600");
    const std::string refusal = picture_size_refusal(size, format, r.width, r.height);
    if (!refusal.empty()) {
        message = "--size: " + refusal;
        return false;
    }
    r.range_text = request.value_or("range", "");
    r.has_range = !r.range_text.empty();
    if (r.has_range) {
        int64_t first = 0, last = 0;
        if (!parse_sample_range(r.range_text, first, last)) {
            message = "--range: " + range_not_a_range(r.range_text);
            return false;
        }
        const auto saturated = [](int64_t v) { return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, v))); };
        r.first = saturated(first);
        r.last = saturated(last);
    }
    const std::string mode = lower_case(request.value_or("mode", ""));
    if (!mode.empty() && (r.mode = mode_from_option_name(mode)) < 0) {
        message = "--mode: '" + mode + "' is not a mode; use dual, single, logic16 or mixed";
        return false;
    }
    r.preferences.show_time_on_x_axis = request.value_or("time_axis", "0") == "1";
    r.preferences.show_pretrigger_position = request.value_or("pretrigger_marker", "1") != "0";
    r.preferences.show_trigger_level = request.value_or("trigger_level", "1") != "0";
    r.preferences.allow_zoom_while_panning = request.value_or("zoom_while_panning", "1") != "0";
    const std::string step = request.value_or("step", "");
    const struct {
        const char* name;
        int command;
    } steps[] = {{"zoom_in", ZOOM_IN}, {"zoom_out", ZOOM_OUT}, {"pan_right", PAN_RIGHT}, {"pan_left", PAN_LEFT}};
    for (const auto& candidate : steps)
        if (step == candidate.name) r.step = candidate.command;
    if (!step.empty() && r.step < 0) {
        message = "step: '" + step + "' is not a step; use zoom_in, zoom_out, pan_right or pan_left";
        return false;
    }
    return true;
}

// A download as gzip where the client takes it. Either way the answer says that it depends
// on Accept-Encoding, so that no cache hands the one to a client that asked for the other.
api_reply compressed(const api_request& request, api_reply reply) {
    reply.headers.push_back({"Vary", "Accept-Encoding"});
    if (request.gzip && reply.status == 200 && gzip_bytes(reply.body, reply.body))
        reply.headers.push_back({"Content-Encoding", "gzip"});
    return reply;
}

// quick: the page's PNG; with rows, the decoded rows alone that go under it. The capture is
// drawn as it is held, beside any other picture drawn at the same time.
int picture(const api_request& request, const capture_entry& entry, const std::string& name, output_format format,
            bool quick, const decode_result* rows, api_reply& reply, std::string& message) {
    picture_request r;
    if (!picture_from_query(request, format, r, message)) return EXIT_USAGE;
    if (!picture_within_bounds(r.width, r.height, rows != nullptr ? decode_rows(*rows).size() : 0, message))
        return EXIT_USAGE;
    output_content content;
    whole_capture(*entry.record, content);
    if (const int refused = prepare_picture(name, *entry.record, r, content.picture, message)) return refused;
    const picture_subject& subject = content.picture;
    file_failure failure;
    const bool drawn = rows != nullptr ? render_rows_png(*rows, subject, reply.body)
                       : quick         ? render_view_png(subject, reply.body)
                                       : write_capture_bytes(format, content, reply.body, failure);
    if (!drawn) {
        message = quick ? "the view could not be drawn" : failure.what;
        return EXIT_FILE;
    }
    // Where the picture put the samples, for the page's cursors.
    const int8_t mode = subject.record->capture_mode;
    const sample_range shown = range_to_paint(subject.view, mode);
    plot_area areas[2];
    const int count = plot_layout(mode, 0, 0, subject.width, subject.height, areas);
    std::string layout;
    for (int i = 0; i < count; ++i)
        layout += (i ? ";" : "") + std::to_string(areas[i].x_left) + "," + std::to_string(areas[i].y_top) + "," +
                  std::to_string(areas[i].x_right) + "," + std::to_string(areas[i].y_bottom);
    reply.headers.push_back({"X-Korvane-Range", std::to_string(shown.start) + ":" + std::to_string(shown.end)});
    reply.headers.push_back({"X-Korvane-Stored-Range", std::to_string(subject.view.start) + ":" + std::to_string(subject.view.end)});
    reply.headers.push_back({"X-Korvane-Areas", layout});
    reply.headers.push_back({"X-Korvane-Mode", mode_option_name(mode)});
    return 0;
}

// The converters' linearity by the code-density test: ?channel=A|B (every analogue channel
// unless given), ?signal=sine|triangle (detected unless given).
api_reply linearity(const api_request& request, const capture_entry& entry) {
    const std::string channel = request.value_or("channel", "");
    const std::string signal_name = lower_case(request.value_or("signal", "detect"));
    linearity_signal signal = linearity_signal::detect;
    if (signal_name != "detect" && !linearity_signal_from_name(signal_name, signal))
        return field_refusal("signal", "signal: '" + printable_name(signal_name, 32) + "' is not sine, triangle or detect");
    std::string channels = linearity_channels(*entry.record);
    if (!channel.empty()) {
        if (channel != "A" && channel != "B") return field_refusal("channel", "channel: A or B");
        if (channels.find(channel[0]) == std::string::npos)
            return error_reply(422, "this capture has no channel " + channel + " to test");
        channels = channel;
    }
    if (channels.empty()) return error_reply(422, "this capture has no analogue channel to test");
    nlohmann::ordered_json document;
    document["id"] = entry.id;
    document["channels"] = nlohmann::ordered_json::array();
    const auto result = std::make_unique<capture_linearity>();
    for (const char c : channels) {
        capture_linearity_test(*entry.record, c, signal, *result);
        document["channels"].push_back(capture_linearity_json(*result));
    }
    return json_reply(200, document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

}  // namespace

std::vector<std::string> api_request::values(const char* name) const {
    std::vector<std::string> found;
    for (const auto& pair : query)
        if (pair.first == name) found.push_back(pair.second);
    return found;
}

bool api_request::value(const char* name, std::string& out) const {
    for (const auto& pair : query)
        if (pair.first == name) {
            out = pair.second;
            return true;
        }
    return false;
}

std::string api_request::value_or(const char* name, const std::string& otherwise) const {
    std::string found;
    return value(name, found) ? found : otherwise;
}

api_reply json_reply(int status, const std::string& body) { return {status, "application/json", body, {}}; }

api_reply error_reply(int status, const std::string& message) {
    return json_reply(status, json_text({{"error", message}}));
}

api_reply field_refusal(const std::string& field, const std::string& message) {
    return json_reply(400, json_text({{"error", message}, {"field", field}}));
}

api::api(instrument& device, const server_options& options) : device_(device), options_(options) {
    hosts_ = {"localhost", "127.0.0.1", lower_case(options_.host)};
    if (options_.host != "0.0.0.0") return;
    // A wildcard address: the machine's own addresses and names.
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
            if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
            char text[INET_ADDRSTRLEN];
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
            if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) hosts_.insert(text);
        }
        freeifaddrs(list);
    }
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
        hosts_.insert(lower_case(name));
        hosts_.insert(lower_case(std::string(name) + ".local"));
    }
}

api::~api() = default;

void api::preload_decoders() {
    preload_decoders_of_library();
    const std::string list = decoder_list_json().dump();
    std::lock_guard<std::mutex> lock(decoded_mutex_);
    decoder_list_ = list;
}

bool api::allowed(const api_request& request, const char* host, const char* origin, const char* token_header,
                  const char* cookies, bool websocket, api_reply& refusal) const {
    if (host == nullptr || hosts_.count(host_part(host)) == 0) {
        refusal = error_reply(403, "this server answers to its own address only");
        return false;
    }
    const bool changes = request.method != "GET" && request.method != "HEAD";
    if ((changes || websocket) && origin != nullptr && lower_case(origin) != "http://" + lower_case(host)) {
        refusal = error_reply(403, "a request from another site's page is refused");
        return false;
    }
    if (!options_.token.empty()) {
        std::string token;
        if (!request.value("token", token)) token = token_header != nullptr ? token_header : cookie_value(cookies, TOKEN_COOKIE);
        if (!same_text(token, options_.token)) {
            refusal = error_reply(403, "this server needs its access token: open the address korvane-cli serve printed");
            return false;
        }
    }
    return true;
}

request_plan api::plan(const api_request& request) const {
    request_plan plan;
    const std::string& path = request.path;
    const std::string& method = request.method;
    const bool get = method == "GET" || method == "HEAD";
    const bool post = method == "POST";
    const auto refuse = [&](int status, const std::string& message) {
        plan.refused = true;
        plan.refusal = error_reply(status, message);
        return plan;
    };
    const auto only = [&](bool allowed) { return allowed ? plan : refuse(405, method + " is not taken here"); };

    if (path == "/" || path == "/index.html" || is_path(path, "/page/") || path == "/api/state") return only(get);
    if (path == "/api/run" || path == "/api/stop") {
        plan.body_limit = MAX_JSON_BODY;
        // A run's stop condition may name a decoder, which is checked through the decoder
        // library before the run starts: off the thread of the requests.
        if (path == "/api/run") plan.place = work_place::pictures;
        return only(post);
    }
    if (path == "/api/statistics") return only(get);
    if (path == "/api/statistics/reset") return only(post);
    if (path == "/api/settings") {
        plan.body_limit = MAX_JSON_BODY;
        return only(method == "PUT");
    }
    if (path == "/api/channels") {
        // A change is written to the configuration file first: off the thread of the requests.
        plan.body_limit = get ? 0 : MAX_JSON_BODY;
        plan.place = get ? work_place::now : work_place::pictures;
        return only(get || method == "PUT");
    }
    if (path == "/api/autoset") {
        // It takes a capture (or two).
        plan.body_limit = MAX_JSON_BODY;
        plan.place = work_place::pictures;
        return only(post);
    }
    if (path == "/api/io") {
        plan.body_limit = post ? MAX_JSON_BODY : 0;
        return only(get || post);
    }
    if (path == "/api/captures") {
        plan.body_limit = DSO_IMAGE_SIZE;
        plan.upload = true;
        return only(post);
    }
    if (is_path(path, "/api/captures/")) {
        if (!get) return refuse(405, method + " is not taken here");
        const size_t stacks = request.values("P").size(), filters = request.values("A").size();
        if (stacks > MAX_STACKS)
            return refuse(400, "at most " + std::to_string(MAX_STACKS) + " stacks of decoders in one request; this one has " +
                                   std::to_string(stacks));
        if (filters > MAX_FILTERS)
            return refuse(400, "at most " + std::to_string(MAX_FILTERS) + " selections of annotation classes (A=) in one "
                                   "request; this one has " + std::to_string(filters));
        const bool decodes = path.size() > 7 && (path.compare(path.size() - 7, 7, "/decode") == 0 ||
                                                 path.compare(path.size() - 5, 5, "/rows") == 0);
        plan.place = decodes ? work_place::decoder : work_place::pictures;
        return plan;
    }
    if (path == "/api/decoders") {
        std::lock_guard<std::mutex> lock(decoded_mutex_);
        plan.place = decoder_list_.empty() ? work_place::decoder : work_place::now;
        return only(get);
    }
    if (is_path(path, "/api/decoders/")) {
        plan.place = work_place::decoder;
        return only(get);
    }
    return refuse(404, "no such page or API path");
}

api_reply api::answer(const api_request& request) {
    const std::string& path = request.path;
    try {
        if (path == "/" || path == "/index.html") return page(request, "index.html");
        if (is_path(path, "/page/")) return page(request, path.substr(6));
        if (path == "/api/state") return json_reply(200, json_text(device_.state()));
        if (path == "/api/run") return run(request);
        if (path == "/api/stop") {
            device_.stop();
            return json_reply(200, json_text(device_.state()));
        }
        if (path == "/api/statistics") return json_reply(200, json_text(device_.statistics()));
        if (path == "/api/statistics/reset") {
            device_.reset_statistics();
            return json_reply(200, json_text(device_.statistics()));
        }
        if (path == "/api/settings") return draft(request);
        if (path == "/api/channels") return channels(request);
        if (path == "/api/autoset") return autoset(request);
        if (path == "/api/captures") return upload(request);
        if (is_path(path, "/api/captures/")) return capture(request, path.substr(14));
        if (path == "/api/io") return io(request);
        if (path == "/api/decoders") return decoders();
        if (is_path(path, "/api/decoders/")) return decoder(path.substr(14));
        return error_reply(404, "no such page or API path");
    } catch (const std::exception& e) {
        return error_reply(500, std::string("internal error: ") + e.what());
    }
}

api_reply api::page(const api_request& request, const std::string& name) const {
    const page_file* file = find_page_file(name);
    if (file == nullptr) return error_reply(404, "no such page");
    api_reply reply{200, file->type, "", {}};
    reply.headers = {{"Content-Security-Policy", "default-src 'self'; img-src 'self' blob: data:; connect-src 'self'; "
                                                 "style-src 'self'; script-src 'self'; object-src 'none'; "
                                                 "frame-ancestors 'none'"},
                     {"X-Frame-Options", "DENY"}};
    std::string token;
    if (!options_.token.empty() && request.value("token", token)) {
        // The token goes into a cookie, and out of the address bar.
        reply.status = 303;
        reply.type = "text/plain";
        reply.headers.push_back({"Set-Cookie", std::string(TOKEN_COOKIE) + "=" + options_.token +
                                                   "; Path=/; HttpOnly; SameSite=Strict"});
        reply.headers.push_back({"Location", "/"});
        return reply;
    }
    reply.body.assign(reinterpret_cast<const char*>(file->data), file->size);
    return reply;
}

api_reply api::run(const api_request& request) {
    json body;
    api_reply refusal;
    if (!json_body(request, body, refusal)) return refusal;
    const json mode = body.value("mode", json("single"));
    const json settings = body.value("settings", json::object());
    const json holdoff = body.value("holdoff", json(1.0));
    const json stop_when = body.value("stop_when", json(""));
    const json math = body.value("math", json(""));
    if (!mode.is_string() || !holdoff.is_number())
        return error_reply(400, "the body is {\"mode\": \"single\"|\"normal\"|\"auto\", \"settings\": {...}, "
                                "\"holdoff\": seconds}");
    if (!stop_when.is_string() && !stop_when.is_null())
        return field_refusal("stop_when", "Stop when: a condition is a text, such as \"A.frequency > 1010\"");
    if (!math.is_string() && !math.is_null())
        return field_refusal("math", "Math: an expression is a text, such as \"A-B\"");
    std::string message, field;
    size_t stop_at = 0;
    if (!device_.run(mode.get<std::string>(), settings, holdoff.get<double>(), message, field,
                     stop_when.is_string() ? stop_when.get<std::string>() : "", &stop_at,
                     math.is_string() ? math.get<std::string>() : "")) {
        if (stop_at > 0) return json_reply(400, json_text({{"error", message}, {"field", field}, {"at", stop_at}}));
        return field.empty() ? error_reply(400, message) : field_refusal(field, message);
    }
    return json_reply(200, json_text(device_.state()));
}

std::shared_ptr<const decode_result> api::cached_decoding(const std::string& key) const {
    std::lock_guard<std::mutex> lock(decoded_mutex_);
    for (const auto& kept : decoded_cache_)
        if (kept.first == key) return kept.second;
    return nullptr;
}

// The annotations of a whole capture for the stacks and filters, decoded once; nullptr with
// the exit status and the message of a refusal.
std::shared_ptr<const decode_result> api::decoded(const capture_entry& entry, const std::vector<std::string>& stacks,
                                                  const std::vector<std::string>& filters, int& refused,
                                                  std::string& message) {
    std::string key = std::to_string(entry.id);
    for (const auto* list : {&stacks, &filters}) {
        key += "\n";
        for (const std::string& item : *list) key += item + "\t";
    }
    if (auto kept = cached_decoding(key)) return kept;
    auto result = std::make_shared<decode_result>();
    const int32_t last = samples_in_mode(entry.record->capture_mode) - 1;
    refused = bounded_decode(*entry.record, 0, last, stacks, filters, *result, message);
    if (refused != 0) return nullptr;
    const size_t bytes = decode_result_bytes(*result) + key.size();
    std::lock_guard<std::mutex> lock(decoded_mutex_);
    decoded_cache_.emplace_front(key, result);
    decoded_bytes_ += bytes;
    while (decoded_bytes_ > DECODE_CACHE_BYTES && decoded_cache_.size() > 1) {
        decoded_bytes_ -= decode_result_bytes(*decoded_cache_.back().second) + decoded_cache_.back().first.size();
        decoded_cache_.pop_back();
    }
    return result;
}

// The spectrum of a capture, as spectrum --json --levels gives it: ?channel=A|B|M, ?math=A-B,
// ?window=hann, ?range=A:B, ?peaks=N, ?levels=0 to leave out the levels of the bins; ?average=N
// the power average over this capture and those before it in the history of the same mode and
// rate, N at the most ("averaged" says how many).
namespace {
constexpr int MAX_AVERAGED = 32;

api_reply spectrum_reply(const api_request& request, const capture_entry& entry, const channel_settings& channels,
                         const instrument& device) {
    spectrum_request wanted;
    std::string field, message;
    if (!spectrum_request_from_text(request.value_or("channel", ""), request.value_or("math", ""),
                                    request.value_or("window", ""), request.value_or("range", ""),
                                    request.value_or("peaks", ""), wanted, field, message))
        return field_refusal(field, message);
    const std::string levels = request.value_or("levels", "1");
    if (levels != "0" && levels != "1") return field_refusal("levels", "'" + levels + "' is not 0 or 1");
    const std::string average_text = request.value_or("average", "1");
    int average = 0;
    if (average_text.empty() || average_text.size() > 2 || average_text.find_first_not_of("0123456789") != std::string::npos ||
        (average = std::stoi(average_text)) < 1 || average > MAX_AVERAGED)
        return field_refusal("average", "Average: '" + printable_name(average_text, 32) + "' is not a whole number in 1.." +
                                            std::to_string(MAX_AVERAGED));
    spectrum_report report;
    const std::string name = "capture " + std::to_string(entry.id);
    if (const int refused = spectrum_report_of(name, *entry.record, wanted, &channels, report, message))
        return refused == EXIT_USAGE ? error_reply(400, message) : error_reply(422, message);
    int averaged = 1;
    if (average > 1) {
        std::vector<spectrum_report> reports{report};
        for (int id = entry.id - 1; id > 0 && static_cast<int>(reports.size()) < average && entry.id - id <= static_cast<int>(HISTORY_SIZE); --id) {
            const std::shared_ptr<const capture_entry> earlier = device.capture(id);
            if (!earlier || earlier->record->capture_mode != entry.record->capture_mode ||
                earlier->record->sample_rate_index != entry.record->sample_rate_index)
                continue;
            spectrum_report more;
            if (spectrum_report_of(name, *earlier->record, wanted, &channels, more, message) == 0)
                reports.push_back(std::move(more));
        }
        averaged = static_cast<int>(reports.size());
        if (averaged > 1 && !average_reports(reports, wanted.peaks, report, message)) return error_reply(422, message);
    }
    std::string text = spectrum_json_text(report, name, levels == "1", -1);
    // How many captures the levels are the mean of, as the first member.
    text.insert(1, "\"averaged\":" + std::to_string(averaged) + ",");
    return compressed(request, json_reply(200, text));
}
}  // namespace

// "/api/captures/N.ext", "/api/captures/latest/measurements".
api_reply api::capture(const api_request& request, const std::string& rest) {
    const size_t end = rest.find_first_of("./");
    const std::string id_text = rest.substr(0, end);
    const std::string what = end == std::string::npos ? "" : rest.substr(end);
    int id = -1;
    if (id_text != "latest" && id_text != "startup") {
        if (id_text.empty() || id_text.size() > 9 || id_text.find_first_not_of("0123456789") != std::string::npos)
            return error_reply(404, "no such capture: give its id from the state's list, latest, or startup");
        id = std::stoi(id_text);
    }
    std::shared_ptr<const capture_entry> entry = id_text == "startup" ? startup_capture() : device_.capture(id);
    if (!entry)
        return error_reply(404, id < 0 ? "no capture yet"
                                       : "capture " + id_text + " is not held (the last " + std::to_string(HISTORY_SIZE) +
                                             " are)");
    if (what == "/measurements") return measurements(request, *entry);
    if (what == "/spectrum") return spectrum_reply(request, *entry, device_.channels(), device_);
    if (what == "/layout") return layout(request, *entry);
    if (what == "/decode") return decode(request, *entry);
    if (what == "/linearity") return linearity(request, *entry);
    output_format format;
    // The page's view, and the decoded rows under it: pictures of .png, quicker to make.
    const bool view = what == "/view" || what == "/rows";
    std::shared_ptr<const decode_result> rows;
    if (what == "/rows") {
        int refused = 0;
        std::string message;
        const std::vector<std::string> stacks = request.values("P");
        if (stacks.empty()) return error_reply(400, NO_STACK);
        rows = decoded(*entry, stacks, request.values("A"), refused, message);
        if (!rows) return error_reply(refused == EXIT_USAGE ? 400 : 422, message);
        if (rows->annotations.empty()) return {204, "image/png", "", {}};
    }
    if (view) format = output_format::png;
    else if (what.size() < 2 || what[0] != '.' || !format_from_name(what.substr(1), format) || lower_case(what) != what)
        return error_reply(404, "no such download: .dso, .csv, .vcd, .wav, .sr, .png, .svg, .pdf, /view, /layout, "
                                "/measurements or /spectrum");
    const std::string file_name = "korvane-" + std::to_string(entry->id) + (view ? ".png" : what);
    api_reply reply{200, format_of(format).media_type, "", {{"Content-Disposition", "inline; filename=\"" + file_name + "\""}}};
    if (format == output_format::dso) {
        // Every page fetches each capture: it is compressed once.
        reply.headers.push_back({"Vary", "Accept-Encoding"});
        const std::shared_ptr<const std::string> packed = request.gzip ? packed_dso(*entry) : nullptr;
        if (packed && !packed->empty()) {
            reply.body = *packed;
            reply.headers.push_back({"Content-Encoding", "gzip"});
        } else {
            reply.body.assign(reinterpret_cast<const char*>(entry->record.get()), DSO_IMAGE_SIZE);
        }
        return reply;
    }
    const std::string name = "capture " + std::to_string(entry->id);
    std::string message;
    const int refused = format == output_format::png || format == output_format::svg || format == output_format::pdf
                            ? picture(request, *entry, name, format, view, rows.get(), reply, message)
                            : exported(request, *entry, name, format, reply.body, message);
    if (refused == EXIT_USAGE) return error_reply(400, message);
    if (refused != 0) return error_reply(refused == EXIT_WARNING ? 422 : 500, message);
    // PNG, PDF and sigrok sessions are compressed already.
    if (format == output_format::png || format == output_format::pdf || format == output_format::sr) return reply;
    return compressed(request, std::move(reply));
}

api_reply api::measurements(const api_request& request, const capture_entry& entry) {
    const std::string range = request.value_or("range", "");
    int32_t from = 0, to = 0;
    std::string message;
    if (!samples_of_range(range, entry.record->capture_mode, from, to, message)) return error_reply(400, message);
    // Each analogue channel's figures also in its unit, where the channel settings give it one.
    const channel_settings channels = device_.channels();
    json document = capture_info_json("capture " + std::to_string(entry.id), *entry.record, !range.empty(), from, to,
                                      &channels);
    std::string expression;
    if (request.value("math", expression)) {
        // The math channel M, measured over the same samples: ?math=A-B.
        math_source math;
        if (const int refused = math_source_of(*entry.record, expression, &channels, math, message))
            return refused == EXIT_USAGE ? field_refusal("math", message.substr(message.find(' ') + 1))
                                         : error_reply(422, message);
        document["math"] = math_measurements_json(*entry.record, math, from, to);
    }
    document["id"] = entry.id;
    return json_reply(200, document.dump(2, ' ', false, json::error_handler_t::replace));
}

// Where the .dso bytes hold each channel, read under the capture's mode or, as View Mode
// reads it, under ?mode=.
api_reply api::layout(const api_request& request, const capture_entry& entry) {
    const std::string mode = lower_case(request.value_or("mode", ""));
    const int8_t code = mode.empty() ? entry.record->capture_mode : mode_from_option_name(mode);
    if (code < 0) return error_reply(400, "mode: '" + mode + "' is not a mode; use dual, single, logic16 or mixed");
    nlohmann::ordered_json document;
    if (code == entry.record->capture_mode) {
        document = capture_layout_json(*entry.record);
    } else {
        auto viewed = std::make_unique<dso_record>(*entry.record);
        viewed->capture_mode = code;
        document = capture_layout_json(*viewed);
    }
    document["id"] = entry.id;
    return json_reply(200, document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

// The annotations of decode --json: ?P=STACK (more than once for more stacks), ?A=FILTER,
// ?range=A:B.
api_reply api::decode(const api_request& request, const capture_entry& entry) {
    const std::vector<std::string> stacks = request.values("P");
    const std::vector<std::string> filters = request.values("A");
    if (stacks.empty()) return error_reply(400, NO_STACK);
    int32_t first = 0, last = 0;
    std::string message;
    const std::string range = request.value_or("range", "");
    if (!samples_of_range(range, entry.record->capture_mode, first, last, message)) return error_reply(400, message);
    // The whole capture's annotations are kept for the rows under the page's view.
    std::shared_ptr<const decode_result> result;
    int refused = 0;
    if (range.empty()) {
        result = decoded(entry, stacks, filters, refused, message);
    } else {
        auto part = std::make_shared<decode_result>();
        refused = bounded_decode(*entry.record, first, last, stacks, filters, *part, message);
        if (refused == 0) result = part;
    }
    if (!result) return error_reply(refused == EXIT_USAGE ? 400 : 422, message);
    nlohmann::ordered_json document = decode_json(*result);
    document["id"] = entry.id;
    return json_reply(200, document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

api_reply api::decoders() {
    {
        std::lock_guard<std::mutex> lock(decoded_mutex_);
        if (!decoder_list_.empty()) return json_reply(200, decoder_list_);
    }
    return json_reply(200, decoder_list_json().dump());
}

api_reply api::decoder(const std::string& id) {
    std::string text, message;
    nlohmann::ordered_json description;
    if (!decoder_description(id, text, description, message)) return error_reply(404, message);
    return json_reply(200, description.dump());
}

api_reply api::upload(const api_request& request) {
    if (request.body.size() != DSO_IMAGE_SIZE)
        return error_reply(400, "a .dso capture holds " + std::to_string(DSO_IMAGE_SIZE) + " bytes; this body holds " +
                                    std::to_string(request.body.size()));
    auto record = std::make_unique<dso_record>();
    std::memcpy(record.get(), request.body.data(), DSO_IMAGE_SIZE);
    const std::string name = printable_name(request.value_or("name", "upload.dso"));
    const std::string damage = header_damage(*record);
    if (!damage.empty()) return error_reply(400, name + ": not a capture this program wrote, or a damaged one: " + damage);
    const int id = device_.add_upload(*record, name);
    return json_reply(201, json_text({{"id", id}}));
}

api_reply api::io(const api_request& request) {
    io_texts texts;
    if (request.method == "POST") {
        json body;
        api_reply refusal;
        if (!json_body(request, body, refusal)) return refusal;
        int actions = 0;
        for (const auto& item : body.items()) {
            const json& v = item.value();
            const std::string key = item.key();
            if (key == "reset_read") {
                if (!v.is_boolean()) return field_refusal("reset_read", "Reset read: takes true or false");
                texts.reset_read = v.get<bool>();
                actions += texts.reset_read;
                continue;
            }
            const struct {
                const char* name;
                std::string* text;
                bool action;
            } fields[] = {{"data", &texts.data, true},
                          {"control", &texts.control, true},
                          {"register", &texts.reg, true},
                          {"value", &texts.value, false},
                          {"icr", &texts.icr, true}};
            const auto field = std::find_if(std::begin(fields), std::end(fields),
                                            [&](const auto& f) { return key == f.name; });
            if (field == std::end(fields))
                return error_reply(400, "'" + printable_name(key, 64) +
                                            "' is not a field; use data, control, register with value, icr or reset_read");
            std::string message;
            if (!register_text(v, io_field_limit(key), *field->text, message))
                return field_refusal(key, io_field_title(key) + ": " + message);
            actions += field->action;
        }
        if (actions > 1) return error_reply(400, "one change at a time: data, control, register, icr or reset_read");
        if (texts.reg.empty() != texts.value.empty())
            return field_refusal(texts.reg.empty() ? "register" : "value", "Register and Value go together");
    }
    io_action action;
    std::string field, message;
    if (!io_action_from_texts(texts, action, field, message)) return field_refusal(field, io_field_title(field) + ": " + message);
    if (!device_.try_hold_port()) return error_reply(409, "a capture runs: the port is the capture's until it is stopped");
    perform_io_action(action);
    char data[8], status[8], control[8];
    std::snprintf(data, sizeof data, "0x%x", read_data());
    std::snprintf(status, sizeof status, "0x%x", read_status());
    std::snprintf(control, sizeof control, "0x%x", read_control());
    device_.release_port();
    return json_reply(200, json_text({{"data", data}, {"status", status}, {"control", control}}));
}

api_reply api::draft(const api_request& request) {
    json body;
    api_reply refusal;
    if (!json_body(request, body, refusal)) return refusal;
    std::string message, field;
    if (!device_.set_draft(body, message, field)) return field.empty() ? error_reply(400, message) : field_refusal(field, message);
    return json_reply(200, json_text({{"draft", device_.draft()}}));
}

api_reply api::channels(const api_request& request) {
    if (request.method == "PUT") {
        json body;
        api_reply refusal;
        if (!json_body(request, body, refusal)) return refusal;
        channel_settings settings;
        std::string field, message;
        if (!channel_settings_from_json(body, settings, field, message)) return field_refusal(field, message);
        if (!device_.set_channels(settings, message)) {
            print_message("channel settings: %s", message.c_str());
            return error_reply(500, "the channel settings could not be kept: " + message);
        }
    }
    return json_reply(200, channel_settings_json(device_.channels()).dump());
}

api_reply api::autoset(const api_request& request) {
    json body;
    api_reply refusal;
    if (!json_body(request, body, refusal)) return refusal;
    std::string channel;
    for (const auto& item : body.items()) {
        if (item.key() != "channel")
            return error_reply(400, "'" + printable_name(item.key(), 64) + "' is not taken; the body is {\"channel\": "
                                                                              "\"A\"} or {\"channel\": \"B\"}, or none");
        if (!item.value().is_string() || (item.value() != "A" && item.value() != "B"))
            return field_refusal("channel", "Channel must be A or B");
        channel = item.value().get<std::string>();
    }
    json answer;
    std::string message;
    const int status = device_.autoset(channel, answer, message);
    if (status != 200) return error_reply(status, message);
    return json_reply(200, json_text(answer));
}

std::shared_ptr<const std::string> api::packed_dso(const capture_entry& entry) {
    constexpr size_t KEPT = 8;
    {
        std::lock_guard<std::mutex> lock(packed_mutex_);
        for (const auto& kept : packed_)
            if (kept.first == entry.id) return kept.second;
    }
    const std::string bytes(reinterpret_cast<const char*>(entry.record.get()), DSO_IMAGE_SIZE);
    // Noise does not compress: a look at its first 64 KB spares the whole.
    std::string sample, packed;
    const bool worth = gzip_bytes(bytes.substr(0, 64 * 1024), sample) && sample.size() < 60 * 1024 &&
                       gzip_bytes(bytes, packed) && packed.size() < bytes.size();
    auto made = std::make_shared<const std::string>(worth ? std::move(packed) : std::string());
    std::lock_guard<std::mutex> lock(packed_mutex_);
    packed_.remove_if([&](const auto& kept) { return kept.first == entry.id; });
    packed_.emplace_front(entry.id, made);
    if (packed_.size() > KEPT) packed_.pop_back();
    return made;
}
