#include "server/http_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <limits>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/socket.h>

#include "server/api.h"
#include "server/gzip_body.h"
#include "server/instrument.h"
#include "server/request_text.h"
#include "server/work_pool.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = beast::error_code;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr size_t HEADER_LIMIT = 8 * 1024;            // the request line and the headers
constexpr size_t PAGE_MESSAGE_LIMIT = 4 * 1024;      // what a page may send on its WebSocket
constexpr auto LINGER = std::chrono::milliseconds(500);  // to read what follows a refusal, then close
constexpr auto STATE_PACE = std::chrono::milliseconds(33);
constexpr double SLOWEST_READER = 64 * 1024;         // bytes a second an answer may be read at

// Sent at once to a connection past a bound on connections, which is then closed.
const char TOO_MANY[] =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nRetry-After: 10\r\n"
    "Connection: close\r\nContent-Length: %zu\r\n\r\n%s";

std::string refusal_body(const std::string& message) { return nlohmann::json({{"error", message}}).dump(); }

}  // namespace

// A connection of any kind, as the server closes them all when it ends.
struct closable {
    virtual ~closable() = default;
    virtual void close_from_server() = 0;
};

struct http_server::impl {
    instrument* device = nullptr;
    server_options options;
    std::unique_ptr<api> routes;
    std::unique_ptr<work_pool> pictures;
    std::unique_ptr<work_pool> decodes;

    // The counts the bounds keep.
    std::mutex counts_mutex;
    std::map<net::ip::address, size_t> per_address;
    size_t connections = 0;
    size_t pages = 0;
    std::atomic<size_t> uploads{0};
    std::list<std::weak_ptr<closable>> open;  // every connection
    std::list<std::weak_ptr<struct live_session>> watchers;

    std::thread broadcaster;
    std::atomic<bool> stopping{false};
    std::vector<std::thread> threads;
    // Last, so that it goes first: the handlers it still holds end their connections, which
    // reach the counts above.
    net::io_context io{2};
    std::optional<net::executor_work_guard<net::io_context::executor_type>> keep_running;
    tcp::acceptor acceptor{io};

    void accept();
    void broadcast();
    void remember(const std::shared_ptr<closable>& connection) {
        std::lock_guard<std::mutex> lock(counts_mutex);
        open.remove_if([](const std::weak_ptr<closable>& c) { return c.expired(); });
        open.push_back(connection);
    }
};

namespace {

// A connection's place in the counts, given back when the connection ends.
class connection_slot {
public:
    connection_slot(http_server::impl& server, net::ip::address address) : server_(&server), address_(address) {}
    connection_slot(connection_slot&& other) noexcept : server_(other.server_), address_(other.address_), page_(other.page_) {
        other.server_ = nullptr;
    }
    connection_slot& operator=(connection_slot&&) = delete;
    ~connection_slot() {
        if (server_ == nullptr) return;
        std::lock_guard<std::mutex> lock(server_->counts_mutex);
        if (--server_->per_address[address_] == 0) server_->per_address.erase(address_);
        --server_->connections;
        if (page_) --server_->pages;
    }
    const net::ip::address& address() const { return address_; }
    // Counts the connection as a page; false when the pages are at their bound.
    bool become_page() {
        std::lock_guard<std::mutex> lock(server_->counts_mutex);
        if (server_->pages >= server_->options.max_pages) return false;
        ++server_->pages;
        page_ = true;
        return true;
    }

private:
    http_server::impl* server_;
    net::ip::address address_;
    bool page_ = false;
};

}  // namespace

// A page's WebSocket: the state pushed to it, the newest state winning when the page reads
// slowly; a new capture told at once.
struct live_session : closable, std::enable_shared_from_this<live_session> {
    http_server::impl& server;
    websocket::stream<beast::tcp_stream> socket;
    connection_slot slot;
    beast::flat_buffer incoming;
    std::string outgoing;
    std::shared_ptr<const std::string> state_text;  // kept while it is written
    bool writing = false;
    bool closed = false;
    std::string refusal;  // not empty: the page is told why it is refused, and the socket closed
    uint64_t sent_version = 0;
    int sent_latest = 0;
    clock_type::time_point next_state = clock_type::now();
    net::steady_timer pace;
    bool pacing = false;

    live_session(http_server::impl& s, beast::tcp_stream&& stream, connection_slot&& counted)
        : server(s), socket(std::move(stream)), slot(std::move(counted)), pace(socket.get_executor()) {}

    void start(http::request<http::string_body> request) {
        beast::get_lowest_layer(socket).expires_never();
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = std::chrono::seconds(10);
        timeouts.idle_timeout = std::chrono::seconds(30);  // a ping at half of it keeps a quiet page
        timeouts.keep_alive_pings = true;
        socket.set_option(timeouts);
        socket.read_message_max(PAGE_MESSAGE_LIMIT);
        if (!slot.become_page())
            refusal = "This instrument already has " + std::to_string(server.options.max_pages) +
                      (server.options.max_pages == 1 ? " page" : " pages") +
                      " watching it, as many as it takes: close one of them, or start korvane-cli serve with "
                      "--max-pages N for more.";
        socket.async_accept(request, [self = shared_from_this()](error_code ec) { self->accepted(ec); });
    }

    void accepted(error_code ec) {
        if (ec) return;
        if (!refusal.empty()) {
            outgoing = nlohmann::json({{"type", "refused"}, {"error", refusal}}).dump();
            socket.async_write(net::buffer(outgoing), [self = shared_from_this()](error_code, size_t) {
                self->socket.async_close(websocket::close_reason(websocket::close_code::try_again_later, "too many pages"),
                                         [self](error_code) {});
            });
            return;
        }
        {
            std::lock_guard<std::mutex> lock(server.counts_mutex);
            server.watchers.remove_if([](const std::weak_ptr<live_session>& w) { return w.expired(); });
            server.watchers.push_back(shared_from_this());
        }
        int64_t ready_ms = 0;
        sent_latest = server.device->latest(ready_ms);
        read();
        notify();
    }

    // The page sends nothing the server needs; reading keeps the pings and the close going.
    void read() {
        socket.async_read(incoming, [self = shared_from_this()](error_code ec, size_t) {
            if (ec) return self->end();
            self->incoming.clear();
            self->read();
        });
    }

    // Something changed: send what the page has not had, when the last message has gone.
    void notify() {
        if (writing || closed) return;
        int64_t ready_ms = 0;
        const int latest = server.device->latest(ready_ms);
        if (latest != sent_latest) {
            sent_latest = latest;
            outgoing = nlohmann::json({{"type", "capture"}, {"id", latest}, {"ready_ms", ready_ms}}).dump();
            return write(net::buffer(outgoing));
        }
        if (server.device->version() == sent_version) return;
        const auto now = clock_type::now();
        if (now < next_state) {
            if (!pacing) {
                pacing = true;
                pace.expires_at(next_state);
                pace.async_wait([self = shared_from_this()](error_code ec) {
                    self->pacing = false;
                    if (!ec) self->notify();
                });
            }
            return;
        }
        state_text = server.device->state_message(sent_version);
        next_state = now + STATE_PACE;
        write(net::buffer(*state_text));
    }

    void write(net::const_buffer text) {
        writing = true;
        socket.text(true);
        socket.async_write(text, [self = shared_from_this()](error_code ec, size_t) {
            self->writing = false;
            if (ec) return self->end();
            self->notify();
        });
    }

    void end() {
        closed = true;
        pace.cancel();
    }

    void close_from_server() override {
        net::post(socket.get_executor(), [self = shared_from_this()] {
            self->end();
            error_code ignored;
            beast::get_lowest_layer(self->socket).socket().shutdown(tcp::socket::shutdown_both, ignored);
            beast::get_lowest_layer(self->socket).close();
        });
    }
};

namespace {

// One HTTP connection: requests one after another, each refused as soon as its headers
// show a reason, its body read only when it is to be used.
class http_session : public closable, public std::enable_shared_from_this<http_session> {
public:
    http_session(http_server::impl& server, tcp::socket&& socket, connection_slot&& slot)
        : server_(server), stream_(std::move(socket)), slot_(std::move(slot)) {}

    void start() {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->wait_for_request(); });
    }

    void close_from_server() override {
        net::post(stream_.get_executor(), [self = shared_from_this()] {
            self->closing_ = true;
            error_code ignored;
            self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
            self->stream_.close();
        });
    }

private:
    std::chrono::milliseconds request_time() const {
        return std::chrono::milliseconds(static_cast<long long>(server_.options.request_seconds * 1000));
    }

    // An idle connection waits for its next request as long as a request may take to arrive.
    void wait_for_request() {
        if (closing_) return;
        if (buffer_.size() > 0) return read_header();
        stream_.expires_after(request_time());
        stream_.async_read_some(buffer_.prepare(HEADER_LIMIT), [self = shared_from_this()](error_code ec, size_t n) {
            if (ec) return self->close();
            self->buffer_.commit(n);
            self->read_header();
        });
    }

    // From its first byte, the whole request (headers and body) must arrive within the bound.
    void read_header() {
        parser_.emplace();
        parser_->header_limit(HEADER_LIMIT);
        // Each path's bound on its body is set once the headers show the path.
        // (Not boost::none: this Beast compares a Content-Length with it as with a number.)
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        stream_.expires_after(request_time());
        http::async_read_header(stream_, buffer_, *parser_, [self = shared_from_this()](error_code ec, size_t) {
            self->headers_read(ec);
        });
    }

    void headers_read(error_code ec) {
        if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == net::error::eof ||
            ec == net::error::connection_reset || ec == net::error::operation_aborted)
            return close();
        if (ec == http::error::header_limit)
            return refuse(error_reply(431, "the request's line and headers take more than 8 KB"));
        if (ec) return refuse(error_reply(400, "the request is not well-formed HTTP: " + ec.message()));

        const auto& head = parser_->get();
        request_ = api_request();
        request_.method = std::string(head.method_string());
        const std::string target(head.target());
        if (target.empty() || target[0] != '/') return refuse(error_reply(400, "the request's target is not a path"));
        const size_t question = target.find('?');
        request_.path = target.substr(0, question);
        if (question != std::string::npos) request_.query = parse_query(target.substr(question + 1));
        head_ = head.method() == http::verb::head;
        keep_alive_ = head.keep_alive();

        const auto header = [&](http::field name) -> std::optional<std::string> {
            const auto found = head.find(name);
            if (found == head.end()) return std::nullopt;
            return std::string(found->value());
        };
        const auto host = header(http::field::host), origin = header(http::field::origin),
                   cookies = header(http::field::cookie);
        const auto compress = server_.options.compress;
        request_.gzip = accepts_gzip(header(http::field::accept_encoding).value_or("")) &&
                        (compress == server_options::compression::always ||
                         (compress == server_options::compression::automatic && !slot_.address().is_loopback()));
        const auto token = [&]() -> std::optional<std::string> {
            const auto found = head.find("X-Korvane-Token");
            if (found == head.end()) return std::nullopt;
            return std::string(found->value());
        }();
        const bool socket = websocket::is_upgrade(head);
        api_reply refusal;
        if (!server_.routes->allowed(request_, host ? host->c_str() : nullptr, origin ? origin->c_str() : nullptr,
                                     token ? token->c_str() : nullptr, cookies ? cookies->c_str() : nullptr, socket,
                                     refusal))
            return refuse(refusal);
        // Another site's page may make a browser send a GET without an Origin; the browser
        // says where it comes from in Sec-Fetch-Site, and the API is for this page and for
        // programs (which send none).
        const auto fetch_site = head.find("Sec-Fetch-Site");
        if (fetch_site != head.end() && request_.path.rfind("/api/", 0) == 0 && fetch_site->value() != "same-origin" &&
            fetch_site->value() != "none")
            return refuse(error_reply(403, "a request from another site's page is refused"));
        if (socket) {
            if (request_.path != "/api/live") return refuse(error_reply(404, "the WebSocket is /api/live"));
            auto page = std::make_shared<live_session>(server_, std::move(stream_), std::move(slot_));
            server_.remember(page);
            page->start(parser_->release());
            return;
        }

        plan_ = server_.routes->plan(request_);
        if (plan_.refused) return refuse(plan_.refusal);
        const bool has_body = head.chunked() || (head.has_content_length() && parser_->content_length().value_or(0) > 0);
        if (!has_body) return work();
        if (plan_.upload) {
            if (server_.uploads.fetch_add(1) >= MAX_UPLOADS_AT_ONCE) {
                server_.uploads.fetch_sub(1);
                api_reply busy = error_reply(503, "the server is receiving " + std::to_string(MAX_UPLOADS_AT_ONCE) +
                                                      " captures already; send it again in a moment");
                busy.headers.push_back({"Retry-After", "2"});
                return refuse(busy);
            }
            uploading_ = true;
        }
        const auto length = parser_->content_length();
        if (length && *length > plan_.body_limit) {
            const std::string message = "this request's body may hold at most " + std::to_string(plan_.body_limit) +
                                        " bytes; it says it holds " + std::to_string(*length);
            if (plan_.body_limit == MAX_JSON_BODY) return judge_large_json(message);
            return refuse(error_reply(413, message));
        }
        parser_->body_limit(plan_.body_limit);
        const auto expect = head.find(http::field::expect);
        if (expect != head.end() && beast::iequals(expect->value(), "100-continue")) {
            auto go_on = std::make_shared<http::response<http::empty_body>>(http::status::continue_, head.version());
            return http::async_write(stream_, *go_on, [self = shared_from_this(), go_on](error_code ec, size_t) {
                if (ec) return self->close();
                self->read_body();
            });
        }
        read_body();
    }

    // A JSON body too large to be taken: refused as too deep where its first bytes nest too
    // deep (so that a deep body is a 400 at any size), else as too large.
    void judge_large_json(const std::string& too_large) {
        const std::string start = beast::buffers_to_string(buffer_.data()).substr(0, MAX_JSON_BODY);
        if (!json_nesting_within(start, MAX_JSON_DEPTH))
            return refuse(error_reply(400, json_too_deep()));
        if (start.size() >= MAX_JSON_BODY) return refuse(error_reply(413, too_large));
        stream_.async_read_some(buffer_.prepare(MAX_JSON_BODY - start.size()),
                                [self = shared_from_this(), too_large](error_code ec, size_t n) {
                                    if (ec) return self->close();
                                    self->buffer_.commit(n);
                                    self->judge_large_json(too_large);
                                });
    }

    void read_body() {
        http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](error_code ec, size_t) {
            if (ec == beast::error::timeout || ec == net::error::eof || ec == http::error::end_of_stream ||
                ec == http::error::partial_message || ec == net::error::connection_reset)
                return self->close();
            if (ec == http::error::body_limit) {
                if (self->plan_.body_limit == MAX_JSON_BODY &&
                    !json_nesting_within(self->parser_->get().body(), MAX_JSON_DEPTH))
                    return self->refuse(error_reply(400, json_too_deep()));
                return self->refuse(error_reply(413, "this request's body may hold at most " +
                                                         std::to_string(self->plan_.body_limit) + " bytes"));
            }
            if (ec) return self->refuse(error_reply(400, "the request's body is not well-formed: " + ec.message()));
            self->request_.body = std::move(self->parser_->get().body());
            self->work();
        });
    }

    // The answer, at once or from the threads of slow work; a full queue is refused with 503.
    void work() {
        stream_.expires_never();
        if (plan_.place == work_place::now) return respond(server_.routes->answer(request_));
        work_pool& pool = plan_.place == work_place::decoder ? *server_.decodes : *server_.pictures;
        auto gone = std::make_shared<std::atomic<bool>>(false);
        gone_ = gone;
        auto self = shared_from_this();
        work_pool::job job{[self] {
                               api_reply reply = self->server_.routes->answer(self->request_);
                               net::post(self->stream_.get_executor(), [self, reply = std::move(reply)]() mutable {
                                   self->stop_watching();
                                   self->respond(std::move(reply));
                               });
                           },
                           gone};
        if (!pool.submit(std::move(job))) {
            api_reply busy = error_reply(503, plan_.place == work_place::decoder
                                                  ? "the decoders have " + std::to_string(server_.options.decode_queue) +
                                                        " requests waiting already; ask again in a moment"
                                                  : "the server has " + std::to_string(server_.options.picture_queue) +
                                                        " pictures to draw already; ask again in a moment");
            busy.headers.push_back({"Retry-After", plan_.place == work_place::decoder ? "5" : "1"});
            return refuse(busy);
        }
        watch_for_leaving();
    }

    // While the work waits, a client that goes away (the end of its stream) marks it gone.
    void watch_for_leaving() {
        watching_ = true;
        stream_.socket().async_wait(tcp::socket::wait_read, [self = shared_from_this()](error_code ec) {
            if (ec || !self->watching_) return;
            char byte;
            const ssize_t n = ::recv(self->stream_.socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                if (auto gone = self->gone_.lock()) gone->store(true);
            }
            // Bytes of a next request: the client is there, and they wait in the socket.
        });
    }

    void stop_watching() {
        if (!watching_) return;
        watching_ = false;
        error_code ignored;
        stream_.socket().cancel(ignored);
    }

    void respond(api_reply reply, bool close_after = false) {
        if (uploading_) {
            uploading_ = false;
            server_.uploads.fetch_sub(1);
        }
        auto response = std::make_shared<http::response<http::string_body>>();
        response->version(11);
        response->result(static_cast<unsigned>(reply.status));
        response->set(http::field::content_type, reply.type);
        response->set(http::field::cache_control, "no-store");
        response->set("X-Content-Type-Options", "nosniff");
        response->set("Referrer-Policy", "no-referrer");
        for (const auto& h : reply.headers) response->insert(h.first, h.second);
        const bool keep = keep_alive_ && !close_after && !closing_;
        response->keep_alive(keep);
        // HEAD: the headers GET would have, the length included, and no body.
        response->content_length(reply.body.size());
        if (!head_) response->body() = std::move(reply.body);
        const auto bytes = static_cast<double>(response->body().size());
        stream_.expires_after(request_time() + std::chrono::milliseconds(static_cast<long long>(bytes / SLOWEST_READER * 1000)));
        http::async_write(stream_, *response, [self = shared_from_this(), response, keep](error_code ec, size_t) {
            if (ec || !keep) return self->close();
            self->wait_for_request();
        });
    }

    // Answers and closes, reading no more of the request.
    void refuse(api_reply reply) { respond(std::move(reply), true); }

    // Ends the connection after its last answer: what the client still sends is read for a
    // moment and dropped, so that the answer is not lost to a reset.
    void close() {
        if (closed_) return;
        closed_ = true;
        error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(LINGER);
        drain();
    }

    void drain() {
        stream_.async_read_some(net::buffer(discard_), [self = shared_from_this()](error_code ec, size_t n) {
            self->drained_ += n;
            if (ec || self->drained_ > 64 * 1024) return self->stream_.close();
            self->drain();
        });
    }

    http_server::impl& server_;
    beast::tcp_stream stream_;
    connection_slot slot_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    api_request request_;
    request_plan plan_;
    bool head_ = false;
    bool keep_alive_ = false;
    bool uploading_ = false;
    bool watching_ = false;
    bool closing_ = false;
    bool closed_ = false;
    std::weak_ptr<std::atomic<bool>> gone_;
    char discard_[4096];
    size_t drained_ = 0;
};

}  // namespace

void http_server::impl::accept() {
    acceptor.async_accept(net::make_strand(io), [this](error_code ec, tcp::socket socket) {
        if (stopping.load() || !acceptor.is_open()) return;
        if (ec) {
            // Out of descriptors, say: try again shortly rather than at once.
            auto later = std::make_shared<net::steady_timer>(io, std::chrono::milliseconds(100));
            later->async_wait([this, later](error_code) { accept(); });
            return;
        }
        error_code peer_error;
        const tcp::endpoint peer = socket.remote_endpoint(peer_error);
        std::string refusal;
        if (!peer_error) {
            std::lock_guard<std::mutex> lock(counts_mutex);
            if (connections >= options.max_connections)
                refusal = "the server has " + std::to_string(options.max_connections) + " connections open, as many as it takes";
            else if (per_address[peer.address()] >= options.max_per_address)
                refusal = "this address has " + std::to_string(options.max_per_address) +
                          " connections open to the server, as many as one address may";
            else {
                ++connections;
                ++per_address[peer.address()];
            }
        }
        if (peer_error) {
            // The connection is gone already.
        } else if (!refusal.empty()) {
            const std::string body = refusal_body(refusal);
            char text[512];
            const int n = std::snprintf(text, sizeof text, TOO_MANY, body.size(), body.c_str());
            error_code ignored;
            socket.non_blocking(true, ignored);
            if (n > 0 && static_cast<size_t>(n) < sizeof text) ::send(socket.native_handle(), text, static_cast<size_t>(n), MSG_DONTWAIT | MSG_NOSIGNAL);
            socket.shutdown(tcp::socket::shutdown_both, ignored);
            socket.close(ignored);
        } else {
            error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);  // a response's header and body go out at once
            auto session = std::make_shared<http_session>(*this, std::move(socket), connection_slot(*this, peer.address()));
            remember(session);
            session->start();
        }
        accept();
    });
}

// Tells every page of a change of the instrument, from a thread of its own.
void http_server::impl::broadcast() {
    uint64_t seen = device->version();
    while (!stopping.load()) {
        const uint64_t now = device->wait_for_change(seen, 250);
        if (now == seen) continue;
        seen = now;
        std::vector<std::shared_ptr<live_session>> pages;
        {
            std::lock_guard<std::mutex> lock(counts_mutex);
            for (auto w = watchers.begin(); w != watchers.end();) {
                if (auto page = w->lock()) {
                    pages.push_back(page);
                    ++w;
                } else {
                    w = watchers.erase(w);
                }
            }
        }
        for (const auto& page : pages) net::post(page->socket.get_executor(), [page] { page->notify(); });
    }
}

http_server::http_server() : impl_(std::make_unique<impl>()) {}
http_server::~http_server() { stop(); }

bool http_server::start(instrument& device, const server_options& options, std::string& message) {
    impl& s = *impl_;
    s.device = &device;
    s.options = options;
    s.routes = std::make_unique<api>(device, options);
    error_code ec;
    const net::ip::address address = net::ip::make_address(options.host, ec);
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(options.port));
    if (!ec) s.acceptor.open(endpoint.protocol(), ec);
    if (!ec) s.acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) s.acceptor.bind(endpoint, ec);
    if (!ec) s.acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        message = "cannot listen on " + options.host + ":" + std::to_string(options.port) + ": " + ec.message();
        error_code ignored;
        s.acceptor.close(ignored);
        return false;
    }
    const size_t cores = std::max(2u, std::thread::hardware_concurrency());
    s.pictures = std::make_unique<work_pool>(cores, options.picture_queue);
    // The decoder library is entered by one decoding at a time; its first job loads every
    // decoder, so that no request loads code later.
    s.decodes = std::make_unique<work_pool>(1, options.decode_queue + 1);
    s.decodes->submit({[&s] { s.routes->preload_decoders(); }, nullptr});
    s.keep_running.emplace(s.io.get_executor());
    s.accept();
    for (int i = 0; i < 2; ++i) s.threads.emplace_back([&s] { s.io.run(); });
    s.broadcaster = std::thread([&s] { s.broadcast(); });
    return true;
}

int http_server::port() const { return impl_->acceptor.is_open() ? impl_->acceptor.local_endpoint().port() : 0; }

void http_server::stop() {
    impl& s = *impl_;
    if (s.threads.empty()) return;
    s.stopping.store(true);
    if (s.broadcaster.joinable()) s.broadcaster.join();
    s.pictures->stop();
    s.decodes->stop();
    net::post(s.io, [&s] {
        error_code ignored;
        s.acceptor.close(ignored);
        // Closed outside the counts' lock: a connection whose last holder is this list ends here,
        // and its end gives its place back in those counts.
        std::vector<std::shared_ptr<closable>> closing;
        {
            std::lock_guard<std::mutex> lock(s.counts_mutex);
            for (const auto& c : s.open)
                if (auto connection = c.lock()) closing.push_back(std::move(connection));
        }
        for (const auto& connection : closing) connection->close_from_server();
    });
    s.keep_running.reset();
    // The connections end within their linger; past a bound the loop is stopped.
    const auto deadline = clock_type::now() + std::chrono::seconds(3);
    while (!s.io.stopped() && clock_type::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.io.stop();
    for (std::thread& t : s.threads) t.join();
    s.threads.clear();
}
