#include "server/http_server.h"

#include <civetweb.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <atomic>
#include <cstring>
#include <list>
#include <mutex>
#include <set>
#include <thread>

#include <ifaddrs.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include "capture/dso_structure.h"
#include "cli/cli_common.h"
#include "cli/export_command.h"
#include "cli/info_command.h"
#include "cli/io_command.h"
#include "cli/outputs.h"
#include "cli/protocol_decode.h"
#include "cli/render_command.h"
#include "display/paint.h"
#include "display/view_range.h"
#include "hardware/capture_sequence.h"
#include "hardware/port.h"
#include "hardware/run_loop.h"
#include "server/instrument.h"
#include "server/page_files.h"
#include "server/view_picture.h"

using json = nlohmann::json;

namespace {

constexpr size_t MAX_JSON_BODY = 64 * 1024;
constexpr char TOKEN_COOKIE[] = "korvane_token";

// ---- Responses ----

void send(mg_connection* conn, int status, const char* type, const std::string& body,
          const std::vector<std::pair<std::string, std::string>>& headers = {}) {
    if (mg_response_header_start(conn, status) != 0) {
        // A WebSocket's opening request takes no response through the header functions.
        std::string head = "HTTP/1.1 " + std::to_string(status) + " " + mg_get_response_code_text(conn, status) +
                           "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nConnection: close\r\n\r\n";
        mg_write(conn, head.data(), head.size());
        mg_write(conn, body.data(), body.size());
        return;
    }
    mg_response_header_add(conn, "Content-Type", type, -1);
    mg_response_header_add(conn, "Content-Length", std::to_string(body.size()).c_str(), -1);
    mg_response_header_add(conn, "Cache-Control", "no-store", -1);
    mg_response_header_add(conn, "X-Content-Type-Options", "nosniff", -1);
    mg_response_header_add(conn, "Referrer-Policy", "no-referrer", -1);
    for (const auto& h : headers) mg_response_header_add(conn, h.first.c_str(), h.second.c_str(), -1);
    mg_response_header_send(conn);
    if (body.size() > 0) mg_write(conn, body.data(), body.size());
}

void send_json(mg_connection* conn, int status, const json& body) {
    send(conn, status, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace));
}

void send_error(mg_connection* conn, int status, const std::string& message) {
    send_json(conn, status, {{"error", message}});
}

// ---- Requests ----

// Every value of a name that may come more than once (?P=uart:rx=D0&P=spi...).
std::vector<std::string> query_values(const mg_request_info* request, const char* name) {
    std::vector<std::string> values;
    const char* query = request->query_string;
    if (query == nullptr) return values;
    std::vector<char> buffer(std::strlen(query) + 1);
    for (size_t k = 0;; ++k) {
        const int n = mg_get_var2(query, std::strlen(query), name, buffer.data(), buffer.size(), k);
        if (n < 0) break;
        values.emplace_back(buffer.data(), static_cast<size_t>(n));
    }
    return values;
}

bool query_value(const mg_request_info* request, const char* name, std::string& value) {
    const std::vector<std::string> values = query_values(request, name);
    if (values.empty()) return false;
    value = values[0];
    return true;
}

std::string query_or(const mg_request_info* request, const char* name, const std::string& otherwise) {
    std::string value;
    return query_value(request, name, value) ? value : otherwise;
}

// Reads a body of at most limit bytes; 0, or the status to refuse it with (413 too large).
int read_body(mg_connection* conn, const mg_request_info* request, size_t limit, std::string& body) {
    if (request->content_length > static_cast<long long>(limit)) return 413;
    body.clear();
    char block[16384];
    for (;;) {
        const int n = mg_read(conn, block, sizeof block);
        if (n <= 0) break;
        body.append(block, static_cast<size_t>(n));
        if (body.size() > limit) return 413;
    }
    return 0;
}

bool parse_json_body(mg_connection* conn, const mg_request_info* request, json& body) {
    std::string text;
    const int refused = read_body(conn, request, MAX_JSON_BODY, text);
    if (refused != 0) {
        send_error(conn, refused, "a request body holds at most 64 KB of JSON");
        return false;
    }
    if (text.empty()) text = "{}";
    body = json::parse(text, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        send_error(conn, 400, "the body is not a JSON object");
        return false;
    }
    return true;
}

// "host" of "host:port" or "[v6]:port".
std::string host_part(const std::string& host) {
    if (!host.empty() && host[0] == '[') {
        const size_t end = host.find(']');
        return lower_case(end == std::string::npos ? host : host.substr(0, end + 1));
    }
    const size_t colon = host.rfind(':');
    return lower_case(colon == std::string::npos ? host : host.substr(0, colon));
}

// Runs work on a thread of its own with the system's full stack: civetweb's threads have
// small stacks, too small for cairo and fontconfig.
template <typename Work>
void on_full_stack(Work work) {
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

bool same_text(const std::string& a, const std::string& b) {
    // In constant time for the token.
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

struct http_server::impl {
    instrument* device = nullptr;
    mg_context* context = nullptr;
    server_options options;
    std::set<std::string> hosts;  // the names and addresses a Host header may give

    // ---- WebSocket clients ----
    struct client {
        mg_connection* conn;
        std::atomic<bool> closed{false};
        std::thread sender;
    };
    std::mutex clients_mutex;
    std::list<client> clients;

    // The last decodings of whole captures, for the rows under the page's view, which follow
    // every zoom and pan: key "id\nstacks\nfilters".
    std::mutex decoded_mutex;
    std::list<std::pair<std::string, std::shared_ptr<const decode_result>>> decoded_cache;

    // The annotations of a whole capture for the stacks and filters, decoded once; nullptr
    // with the exit status and the message of a refusal.
    std::shared_ptr<const decode_result> decoded(const capture_entry& entry, const std::vector<std::string>& stacks,
                                                 const std::vector<std::string>& filters, int& refused,
                                                 std::string& message) {
        std::string key = std::to_string(entry.id);
        for (const auto* list : {&stacks, &filters}) {
            key += "\n";
            for (const std::string& item : *list) key += item + "\t";
        }
        {
            std::lock_guard<std::mutex> lock(decoded_mutex);
            for (const auto& kept : decoded_cache)
                if (kept.first == key) return kept.second;
        }
        auto result = std::make_shared<decode_result>();
        const int32_t last = samples_in_mode(entry.record->capture_mode) - 1;
        refused = 0;
        on_full_stack([&] { refused = decode_capture(*entry.record, 0, last, stacks, filters, *result, message); });
        if (refused != 0) return nullptr;
        std::lock_guard<std::mutex> lock(decoded_mutex);
        decoded_cache.emplace_front(key, result);
        if (decoded_cache.size() > 4) decoded_cache.pop_back();
        return result;
    }

    void allow_hosts() {
        hosts = {"localhost", "127.0.0.1", lower_case(options.host)};
        if (options.host != "0.0.0.0") return;
        // A wildcard address: the machine's own addresses and names.
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) == 0) {
            for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
                if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
                char text[INET_ADDRSTRLEN];
                const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
                if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) hosts.insert(text);
            }
            freeifaddrs(list);
        }
        char name[256] = "";
        if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
            hosts.insert(lower_case(name));
            hosts.insert(lower_case(std::string(name) + ".local"));
        }
    }

    std::string presented_token(const mg_connection* conn, const mg_request_info* request) const {
        std::string token;
        if (query_value(request, "token", token)) return token;
        if (const char* header = mg_get_header(conn, "X-Korvane-Token")) return header;
        if (const char* cookies = mg_get_header(conn, "Cookie")) {
            char value[256];
            const int n = mg_get_cookie(cookies, TOKEN_COOKIE, value, sizeof value);
            if (n > 0) return std::string(value, static_cast<size_t>(n));
        }
        return "";
    }

    // The checks every request passes; false once it has been refused.
    bool allowed(mg_connection* conn, const mg_request_info* request) {
        const char* host = mg_get_header(conn, "Host");
        if (host == nullptr || hosts.count(host_part(host)) == 0) {
            send_error(conn, 403, "this server answers to its own address only");
            return false;
        }
        const bool changes = std::strcmp(request->request_method, "GET") != 0 &&
                             std::strcmp(request->request_method, "HEAD") != 0;
        const char* upgrade = mg_get_header(conn, "Upgrade");
        const bool socket = upgrade != nullptr && lower_case(upgrade) == "websocket";
        if (changes || socket) {
            const char* origin = mg_get_header(conn, "Origin");
            if (origin != nullptr && lower_case(origin) != "http://" + lower_case(host)) {
                send_error(conn, 403, "a request from another site's page is refused");
                return false;
            }
        }
        if (!options.token.empty() && !same_text(presented_token(conn, request), options.token)) {
            send_error(conn, 403, "this server needs its access token: open the address korvane-cli serve printed");
            return false;
        }
        return true;
    }

    // ---- Routes ----

    void page(mg_connection* conn, const mg_request_info* request, const std::string& name) {
        const page_file* file = find_page_file(name);
        if (file == nullptr) return send_error(conn, 404, "no such page");
        std::vector<std::pair<std::string, std::string>> headers = {
            {"Content-Security-Policy", "default-src 'self'; img-src 'self' blob: data:; connect-src 'self'; "
                                        "style-src 'self'; script-src 'self'; object-src 'none'; "
                                        "frame-ancestors 'none'"},
            {"X-Frame-Options", "DENY"}};
        std::string token;
        if (!options.token.empty() && query_value(request, "token", token)) {
            // The token goes into a cookie, and out of the address bar.
            headers.push_back({"Set-Cookie", std::string(TOKEN_COOKIE) + "=" + options.token +
                                                 "; Path=/; HttpOnly; SameSite=Strict"});
            headers.push_back({"Location", "/"});
            return send(conn, 303, "text/plain", "", headers);
        }
        send(conn, 200, file->type, std::string(reinterpret_cast<const char*>(file->data), file->size), headers);
    }

    void run(mg_connection* conn, const mg_request_info* request) {
        json body;
        if (!parse_json_body(conn, request, body)) return;
        const json mode = body.value("mode", json("single"));
        const json settings = body.value("settings", json::object());
        const json holdoff = body.value("holdoff", json(1.0));
        if (!mode.is_string() || !holdoff.is_number())
            return send_error(conn, 400, "the body is {\"mode\": \"single\"|\"normal\"|\"auto\", \"settings\": {...}, "
                                         "\"holdoff\": seconds}");
        std::string message;
        if (!device->run(mode.get<std::string>(), settings, holdoff.get<double>(), message))
            return send_error(conn, 400, message);
        send_json(conn, 200, device->state());
    }

    // "/api/captures/N.ext", "/api/captures/latest/measurements".
    void capture(mg_connection* conn, const mg_request_info* request, const std::string& rest) {
        const size_t end = rest.find_first_of("./");
        const std::string id_text = rest.substr(0, end);
        const std::string what = end == std::string::npos ? "" : rest.substr(end);
        int id = -1;
        if (id_text != "latest" && id_text != "startup") {
            if (id_text.empty() || id_text.size() > 9 || id_text.find_first_not_of("0123456789") != std::string::npos)
                return send_error(conn, 404, "no such capture: give its id from the state's list, latest, or startup");
            id = std::stoi(id_text);
        }
        std::shared_ptr<const capture_entry> entry = id_text == "startup" ? startup_capture() : device->capture(id);
        if (!entry)
            return send_error(conn, 404, id < 0 ? "no capture yet" : "capture " + id_text + " is not held (the last " +
                                                                         std::to_string(HISTORY_SIZE) + " are)");
        if (what == "/measurements") return measurements(conn, request, *entry);
        if (what == "/decode") return decode(conn, request, *entry);
        output_format format;
        // The page's view, and the decoded rows under it: pictures of .png, quicker to make.
        const bool view = what == "/view" || what == "/rows";
        std::shared_ptr<const decode_result> rows;
        if (what == "/rows") {
            int refused = 0;
            std::string message;
            const std::vector<std::string> stacks = query_values(request, "P");
            if (stacks.empty()) return send_error(conn, 400, "no decoder: give ?P=STACK, such as P=uart:rx=D0:baudrate=115200");
            rows = decoded(*entry, stacks, query_values(request, "A"), refused, message);
            if (!rows) return send_error(conn, refused == EXIT_USAGE ? 400 : 422, message);
            if (rows->annotations.empty()) return send(conn, 204, "image/png", "");
        }
        if (view) format = output_format::png;
        else if (what.size() < 2 || what[0] != '.' || !format_from_name(what.substr(1), format) || lower_case(what) != what)
            return send_error(conn, 404, "no such download: .dso, .csv, .vcd, .wav, .sr, .png, .svg, .pdf, /view or "
                                         "/measurements");
        const std::string file_name = "korvane-" + std::to_string(entry->id) + (view ? ".png" : what);
        std::vector<std::pair<std::string, std::string>> headers = {
            {"Content-Disposition", "inline; filename=\"" + file_name + "\""}};
        if (format == output_format::dso)
            return send(conn, 200, format_of(format).media_type,
                        std::string(reinterpret_cast<const char*>(entry->record.get()), DSO_IMAGE_SIZE), headers);
        const std::string name = "capture " + std::to_string(entry->id);
        std::string bytes, message;
        int refused = 0;
        try {
            on_full_stack([&] {
                if (format == output_format::png || format == output_format::svg || format == output_format::pdf)
                    refused = picture(request, *entry, name, file_name, view, rows.get(), bytes, headers, message);
                else
                    refused = exported(request, *entry, name, file_name, bytes, message);
            });
        } catch (const CLI::ParseError& e) {
            return send_error(conn, 400, e.what());
        }
        if (refused == EXIT_USAGE) return send_error(conn, 400, message);
        if (refused != 0) return send_error(conn, refused == EXIT_WARNING ? 422 : 500, message);
        send(conn, 200, format_of(format).media_type, bytes, headers);
    }

    int exported(const mg_request_info* request, const capture_entry& entry, const std::string& name,
                 const std::string& file_name, std::string& bytes, std::string& message) {
        export_options o;
        o.file = name;
        o.output = file_name;
        o.channels = query_or(request, "channels", "");
        o.range = query_or(request, "range", "");
        const export_request r = export_request_from_options(o);
        std::lock_guard<std::mutex> lock(record_mutex());
        dso_structure = *entry.record;
        output_content content;
        if (const int refused = prepare_export(name, o, r, content, message)) return refused;
        file_failure failure;
        if (!write_capture_bytes(r.format, content, bytes, failure)) {
            message = failure.what;
            return EXIT_FILE;
        }
        return 0;
    }

    // quick: the page's PNG; with rows, the decoded rows alone that go under it.
    int picture(const mg_request_info* request, const capture_entry& entry, const std::string& name,
                const std::string& file_name, bool quick, const decode_result* rows, std::string& bytes,
                std::vector<std::pair<std::string, std::string>>& headers, std::string& message) {
        render_options o;
        o.file = name;
        o.output = file_name;
        o.size = query_or(request, "size", "800x600");
        o.range = query_or(request, "range", "");
        o.mode = lower_case(query_or(request, "mode", ""));
        o.time_axis = query_or(request, "time_axis", "0") == "1";
        o.no_pretrigger_marker = query_or(request, "pretrigger_marker", "1") == "0";
        o.no_trigger_level = query_or(request, "trigger_level", "1") == "0";
        if (!o.mode.empty() && mode_from_option_name(o.mode) < 0) {
            message = "--mode: '" + o.mode + "' is not a mode; use dual, single, logic16 or mixed";
            return EXIT_USAGE;
        }
        render_settings s = render_settings_from_options(o);
        s.zoom_while_panning = query_or(request, "zoom_while_panning", "1") != "0";
        const std::string step = query_or(request, "step", "");
        const struct {
            const char* name;
            int command;
        } steps[] = {{"zoom_in", ZOOM_IN}, {"zoom_out", ZOOM_OUT}, {"pan_right", PAN_RIGHT}, {"pan_left", PAN_LEFT}};
        for (const auto& candidate : steps)
            if (step == candidate.name) s.step = candidate.command;
        if (!step.empty() && s.step < 0) {
            message = "step: '" + step + "' is not a step; use zoom_in, zoom_out, pan_right or pan_left";
            return EXIT_USAGE;
        }
        std::lock_guard<std::mutex> lock(record_mutex());
        dso_structure = *entry.record;
        output_content content;
        if (const int refused = prepare_render(name, o, s, content, message)) return refused;
        file_failure failure;
        const bool drawn = rows != nullptr ? render_rows_png(*rows, s.width, s.height, bytes)
                           : quick         ? render_view_png(s.width, s.height, bytes)
                                           : write_capture_bytes(s.format, content, bytes, failure);
        if (!drawn) {
            message = quick ? "the view could not be drawn" : failure.what;
            return EXIT_FILE;
        }
        // Where the picture put the samples, for the page's cursors.
        const sample_range shown = range_to_paint();
        plot_area areas[2];
        const int count = plot_layout(dso_structure.capture_mode, 0, 0, s.width, s.height, areas);
        std::string layout;
        for (int i = 0; i < count; ++i)
            layout += (i ? ";" : "") + std::to_string(areas[i].x_left) + "," + std::to_string(areas[i].y_top) + "," +
                      std::to_string(areas[i].x_right) + "," + std::to_string(areas[i].y_bottom);
        headers.push_back({"X-Korvane-Range", std::to_string(shown.start) + ":" + std::to_string(shown.end)});
        headers.push_back({"X-Korvane-Stored-Range", std::to_string(view_start) + ":" + std::to_string(view_end)});
        headers.push_back({"X-Korvane-Areas", layout});
        headers.push_back({"X-Korvane-Mode", mode_option_name(dso_structure.capture_mode)});
        return 0;
    }

    void measurements(mg_connection* conn, const mg_request_info* request, const capture_entry& entry) {
        const std::string range = query_or(request, "range", "");
        int32_t from = 0, to = 0;
        std::string message;
        if (!samples_of_range(range, entry.record->capture_mode, from, to, message)) return send_error(conn, 400, message);
        json document;
        on_full_stack([&] {
            std::lock_guard<std::mutex> lock(record_mutex());  // the measurements share their buffers
            document = capture_info_json("capture " + std::to_string(entry.id), *entry.record, !range.empty(), from, to);
        });
        document["id"] = entry.id;
        send(conn, 200, "application/json", document.dump(2, ' ', false, json::error_handler_t::replace));
    }

    // The annotations of decode --json: ?P=STACK (more than once for more stacks), ?A=FILTER,
    // ?range=A:B.
    void decode(mg_connection* conn, const mg_request_info* request, const capture_entry& entry) {
        const std::vector<std::string> stacks = query_values(request, "P");
        const std::vector<std::string> filters = query_values(request, "A");
        if (stacks.empty()) return send_error(conn, 400, "no decoder: give ?P=STACK, such as P=uart:rx=D0:baudrate=115200");
        int32_t first = 0, last = 0;
        std::string message;
        const std::string range = query_or(request, "range", "");
        if (!samples_of_range(range, entry.record->capture_mode, first, last, message)) return send_error(conn, 400, message);
        // The whole capture's annotations are kept for the rows under the page's view.
        std::shared_ptr<const decode_result> result;
        int refused = 0;
        if (range.empty()) {
            result = decoded(entry, stacks, filters, refused, message);
        } else {
            auto part = std::make_shared<decode_result>();
            on_full_stack([&] { refused = decode_capture(*entry.record, first, last, stacks, filters, *part, message); });
            if (refused == 0) result = part;
        }
        if (!result) return send_error(conn, refused == EXIT_USAGE ? 400 : 422, message);
        nlohmann::ordered_json document = decode_json(*result);
        document["id"] = entry.id;
        send(conn, 200, "application/json", document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    }

    void decoders(mg_connection* conn) {
        nlohmann::ordered_json list;
        on_full_stack([&] { list = decoder_list_json(); });
        send(conn, 200, "application/json", list.dump());
    }

    void decoder(mg_connection* conn, const std::string& id) {
        std::string text, message;
        nlohmann::ordered_json description;
        bool known = false;
        on_full_stack([&] { known = decoder_description(id, text, description, message); });
        if (!known) return send_error(conn, 404, message);
        send(conn, 200, "application/json", description.dump());
    }

    void upload(mg_connection* conn, const mg_request_info* request) {
        if (request->content_length >= 0 && request->content_length != static_cast<long long>(DSO_IMAGE_SIZE))
            return send_error(conn, 400, "a .dso capture holds " + std::to_string(DSO_IMAGE_SIZE) + " bytes; this body holds " +
                                             std::to_string(request->content_length));
        std::string body;
        if (read_body(conn, request, DSO_IMAGE_SIZE, body) != 0 || body.size() != DSO_IMAGE_SIZE)
            return send_error(conn, 400, "a .dso capture holds " + std::to_string(DSO_IMAGE_SIZE) + " bytes; this body holds " +
                                             std::to_string(body.size()) + " or more");
        auto record = std::make_unique<dso_record>();
        std::memcpy(record.get(), body.data(), DSO_IMAGE_SIZE);
        const std::string name = query_or(request, "name", "upload.dso");
        const std::string damage = header_damage(*record);
        if (!damage.empty()) return send_error(conn, 400, name + ": not a capture this program wrote, or a damaged one: " + damage);
        const int id = device->add_upload(*record, name);
        send_json(conn, 201, {{"id", id}});
    }

    void io(mg_connection* conn, const mg_request_info* request) {
        io_options o;
        const bool post = std::strcmp(request->request_method, "POST") == 0;
        if (post) {
            json body;
            if (!parse_json_body(conn, request, body)) return;
            int actions = 0;
            for (const auto& item : body.items()) {
                const json& v = item.value();
                const std::string key = item.key();
                std::string text = v.is_string() ? v.get<std::string>() : v.is_number_unsigned() ? std::to_string(v.get<unsigned>()) : "";
                if (key == "reset_read") {
                    if (!v.is_boolean()) return send_error(conn, 400, "reset_read takes true or false");
                    o.reset_read = v.get<bool>();
                    actions += o.reset_read;
                    continue;
                }
                if (!v.is_string() && !v.is_number_unsigned())
                    return send_error(conn, 400, "--" + key + ": takes a hexadecimal value as a text");
                if (text.empty()) return send_error(conn, 400, "--" + key + ": takes a value, and an empty one is none");
                if (key == "data") o.data = text, ++actions;
                else if (key == "control") o.control = text, ++actions;
                else if (key == "register") o.reg = text, ++actions;
                else if (key == "value") o.value = text;
                else if (key == "icr") o.icr = text, ++actions;
                else return send_error(conn, 400, "'" + key + "' is not a field; use data, control, register with value, icr or reset_read");
            }
            if (actions > 1) return send_error(conn, 400, "one change at a time: data, control, register, icr or reset_read");
            if (o.reg.empty() != o.value.empty()) return send_error(conn, 400, "--register and --value go together");
        }
        io_action action;
        try {
            action = io_action_from_options(o);
        } catch (const CLI::ParseError& e) {
            return send_error(conn, 400, e.what());
        }
        if (!device->try_hold_port()) return send_error(conn, 409, "a capture runs: the port is the capture's until it is stopped");
        perform_io_action(action);
        char data[8], status[8], control[8];
        std::snprintf(data, sizeof data, "0x%x", read_data());
        std::snprintf(status, sizeof status, "0x%x", read_status());
        std::snprintf(control, sizeof control, "0x%x", read_control());
        device->release_port();
        send_json(conn, 200, {{"data", data}, {"status", status}, {"control", control}});
    }

    // Every request comes here first.
    int handle(mg_connection* conn) {
        const mg_request_info* request = mg_get_request_info(conn);
        if (!allowed(conn, request)) return 1;
        const char* upgrade = mg_get_header(conn, "Upgrade");
        const std::string path = request->local_uri != nullptr ? request->local_uri : "";
        if (upgrade != nullptr && lower_case(upgrade) == "websocket") {
            if (path == "/api/live") return 0;  // to the WebSocket handler
            send_error(conn, 404, "the WebSocket is /api/live");
            return 1;
        }
        const std::string method = request->request_method;
        const bool get = method == "GET" || method == "HEAD";
        const bool post = method == "POST";
        const auto refuse_method = [&] { send_error(conn, 405, method + " is not taken here"); };
        try {
            if (path == "/" || path == "/index.html") get ? page(conn, request, "index.html") : refuse_method();
            else if (path.rfind("/page/", 0) == 0) get ? page(conn, request, path.substr(6)) : refuse_method();
            else if (path == "/api/state") get ? send_json(conn, 200, device->state()) : refuse_method();
            else if (path == "/api/run") post ? run(conn, request) : refuse_method();
            else if (path == "/api/stop") {
                if (!post) refuse_method();
                else {
                    device->stop();
                    send_json(conn, 200, device->state());
                }
            } else if (path == "/api/captures") post ? upload(conn, request) : refuse_method();
            else if (path.rfind("/api/captures/", 0) == 0) get ? capture(conn, request, path.substr(14)) : refuse_method();
            else if (path == "/api/io") (get || post) ? io(conn, request) : refuse_method();
            else if (path == "/api/decoders") get ? decoders(conn) : refuse_method();
            else if (path.rfind("/api/decoders/", 0) == 0) get ? decoder(conn, path.substr(14)) : refuse_method();
            else send_error(conn, 404, "no such page or API path");
        } catch (const std::exception& e) {
            send_error(conn, 500, std::string("internal error: ") + e.what());
        }
        return 1;
    }

    // ---- WebSocket ----

    void start_client(mg_connection* conn) {
        std::lock_guard<std::mutex> lock(clients_mutex);
        clients.emplace_back();
        client& c = clients.back();
        c.conn = conn;
        mg_set_user_connection_data(conn, &c);
        c.sender = std::thread([this, &c] {
            // The newest state wins: a slow page skips the states it had no time for. A page
            // gets at most about 30 states a second, but hears of a new capture at once.
            using clock = std::chrono::steady_clock;
            uint64_t sent = 0;
            int64_t ready_ms = 0;
            int latest = device->latest(ready_ms);
            bool first = true;
            clock::time_point next_state = clock::now();
            const auto tell_capture = [&] {
                const int newest = device->latest(ready_ms);
                if (newest == latest) return true;
                latest = newest;
                const std::string text = json({{"type", "capture"}, {"id", newest}, {"ready_ms", ready_ms}}).dump();
                return mg_websocket_write(c.conn, MG_WEBSOCKET_OPCODE_TEXT, text.data(), text.size()) > 0;
            };
            while (!c.closed.load()) {
                const uint64_t now = device->wait_for_change(sent, 1000);
                if (c.closed.load()) break;
                if (now == sent && !first) continue;
                first = false;
                if (!tell_capture()) break;
                bool open = true;
                while (open && clock::now() < next_state && !c.closed.load()) {
                    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_state - clock::now());
                    device->wait_for_change(device->version(), static_cast<int>(left.count()) + 1);
                    open = tell_capture();
                }
                if (!open) break;
                const std::shared_ptr<const std::string> text = device->state_message(sent);
                if (mg_websocket_write(c.conn, MG_WEBSOCKET_OPCODE_TEXT, text->data(), text->size()) <= 0) break;
                next_state = clock::now() + std::chrono::milliseconds(33);
            }
        });
    }

    void end_client(const mg_connection* conn) {
        client* c = static_cast<client*>(mg_get_user_connection_data(conn));
        if (c == nullptr) return;
        c->closed.store(true);
        if (c->sender.joinable()) c->sender.join();
        std::lock_guard<std::mutex> lock(clients_mutex);
        clients.remove_if([c](const client& x) { return &x == c; });
    }
};

namespace {

int begin_request(mg_connection* conn) {
    auto* self = static_cast<http_server::impl*>(mg_get_user_data(mg_get_context(conn)));
    return self->handle(conn);
}

int socket_connect(const mg_connection*, void*) { return 0; }
void socket_ready(mg_connection* conn, void* data) { static_cast<http_server::impl*>(data)->start_client(conn); }
int socket_data(mg_connection*, int, char*, size_t, void*) { return 1; }  // the page sends nothing we need
void socket_close(const mg_connection* conn, void* data) { static_cast<http_server::impl*>(data)->end_client(conn); }

int quiet_log(const mg_connection*, const char*) { return 1; }

}  // namespace

http_server::http_server() : impl_(std::make_unique<impl>()) {}
http_server::~http_server() { stop(); }

bool http_server::start(instrument& device, const server_options& options, std::string& message) {
    impl_->device = &device;
    impl_->options = options;
    impl_->allow_hosts();
    mg_init_library(MG_FEATURES_WEBSOCKET);
    const std::string ports = options.host + ":" + std::to_string(options.port);
    const char* settings[] = {"listening_ports", ports.c_str(),
                              "num_threads", "24",
                              "enable_keep_alive", "yes",
                              "tcp_nodelay", "1",  // a response's header and body go out at once
                              "request_timeout_ms", "30000",
                              "websocket_timeout_ms", "30000",
                              "enable_websocket_ping_pong", "yes",
                              nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = begin_request;
    callbacks.log_message = quiet_log;
    mg_init_data init{};
    init.callbacks = &callbacks;
    init.user_data = impl_.get();
    init.configuration_options = settings;
    mg_error_data error{};
    unsigned error_code = 0;
    char error_text[256] = "";
    error.code = &error_code;
    error.text = error_text;
    error.text_buffer_size = sizeof error_text;
    impl_->context = mg_start2(&init, &error);
    if (impl_->context == nullptr) {
        message = "cannot listen on " + ports + ": " + (error_text[0] ? error_text : "the address is taken or not this machine's");
        return false;
    }
    mg_set_websocket_handler(impl_->context, "/api/live", socket_connect, socket_ready, socket_data, socket_close,
                             impl_.get());
    return true;
}

int http_server::port() const {
    if (impl_->context == nullptr) return 0;
    mg_server_port ports[4];
    const int n = mg_get_server_ports(impl_->context, 4, ports);
    return n > 0 ? ports[0].port : 0;
}

void http_server::stop() {
    if (impl_->context == nullptr) return;
    mg_stop(impl_->context);  // closes the WebSockets, whose senders end
    impl_->context = nullptr;
}
