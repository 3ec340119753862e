// The instrument's HTTP API and page, apart from how requests arrive: a request in, an answer
// out. The transport (server/http_server.cpp) asks first, with the headers alone, where a
// request's work is to be done and how large a body it may bring, and refuses what breaks a
// bound before it reads a body or queues any work.
#pragma once
#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "server/server_options.h"

class instrument;
struct capture_entry;
struct decode_result;

struct api_request {
    std::string method;  // GET, HEAD, POST...
    std::string path;    // the target before '?'
    std::vector<std::pair<std::string, std::string>> query;
    std::string body;
    bool gzip = false;  // the client takes gzip (its Accept-Encoding)
    // Every value of a name that may come more than once (?P=uart:rx=D0&P=spi...).
    std::vector<std::string> values(const char* name) const;
    bool value(const char* name, std::string& out) const;
    std::string value_or(const char* name, const std::string& otherwise) const;
};

struct api_reply {
    int status = 200;
    std::string type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

api_reply json_reply(int status, const std::string& body);
api_reply error_reply(int status, const std::string& message);
// A 400 that names the field of the request it refuses: {"error": "Level: ...", "field": "level"}.
api_reply field_refusal(const std::string& field, const std::string& message);

// Where a request's work is done: at once on the thread that read it (a few microseconds at
// most), on the pictures' threads, or on the decoder library's thread.
enum class work_place { now, pictures, decoder };

struct request_plan {
    work_place place = work_place::now;
    size_t body_limit = 0;  // bytes
    bool upload = false;    // a .dso body: exactly that many bytes, with a slot of its own
    bool refused = false;   // answer with refusal at once, reading no body
    api_reply refusal;
};

class api {
public:
    api(instrument& device, const server_options& options);
    ~api();
    api(const api&) = delete;
    api& operator=(const api&) = delete;

    // The checks every request passes before anything else: its Host, the Origin of anything
    // that changes state or opens the WebSocket, and the access token. false with the refusal.
    bool allowed(const api_request& request, const char* host, const char* origin, const char* token_header,
                 const char* cookies, bool websocket, api_reply& refusal) const;

    // With the headers alone: where the work goes, the body it may bring, or a refusal.
    request_plan plan(const api_request& request) const;

    // The answer, on the thread the plan named. A HEAD request is answered as GET (the
    // transport sends no body).
    api_reply answer(const api_request& request);

    // Every decoder loaded, so that no later request loads code into the process.
    void preload_decoders();

private:
    std::shared_ptr<const decode_result> cached_decoding(const std::string& key) const;
    std::shared_ptr<const decode_result> decoded(const capture_entry& entry, const std::vector<std::string>& stacks,
                                                 const std::vector<std::string>& filters, int& refused,
                                                 std::string& message);
    api_reply page(const api_request& request, const std::string& name) const;
    api_reply run(const api_request& request);
    api_reply capture(const api_request& request, const std::string& rest);
    api_reply measurements(const api_request& request, const capture_entry& entry);
    api_reply layout(const api_request& request, const capture_entry& entry);
    api_reply decode(const api_request& request, const capture_entry& entry);
    api_reply decoders();
    api_reply decoder(const std::string& id);
    api_reply upload(const api_request& request);
    api_reply io(const api_request& request);
    api_reply channels(const api_request& request);
    api_reply draft(const api_request& request);
    api_reply autoset(const api_request& request);

    instrument& device_;
    server_options options_;
    std::set<std::string> hosts_;  // the names and addresses a Host header may give

    // The last decodings of whole captures, for the rows under the page's view, which follow
    // every zoom and pan: key "id\nstacks\nfilters", newest first, bounded in bytes.
    mutable std::mutex decoded_mutex_;
    std::list<std::pair<std::string, std::shared_ptr<const decode_result>>> decoded_cache_;
    size_t decoded_bytes_ = 0;
    std::string decoder_list_;  // the list's JSON, made once

    // The last captures' .dso bytes as gzip, made once for all the pages that fetch them
    // (empty: bytes that do not compress, sent as they are). Newest first.
    std::shared_ptr<const std::string> packed_dso(const capture_entry& entry);
    std::mutex packed_mutex_;
    std::list<std::pair<int, std::shared_ptr<const std::string>>> packed_;
};
