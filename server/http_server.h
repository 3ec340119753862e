// The HTTP side of korvane-cli serve, on civetweb: the page's built-in files, the API, and
// the WebSocket that pushes the state to every open page. Every request passes the same
// checks first: the Host header (against DNS rebinding), the Origin of anything that changes
// state or opens the WebSocket (against cross-site requests), and, on an address other than
// the loopback one, the access token.
#pragma once
#include <memory>
#include <string>

class instrument;

struct server_options {
    std::string host = "127.0.0.1";  // the address to listen on (IPv4)
    int port = 8080;                 // 0: any free port
    std::string token;               // empty: no token asked for (the loopback address)
};

class http_server {
public:
    http_server();
    ~http_server();
    http_server(const http_server&) = delete;
    http_server& operator=(const http_server&) = delete;

    // Listens; false with the message when the address cannot be taken.
    bool start(instrument& device, const server_options& options, std::string& message);
    // The port it listens on (the one chosen, when it was 0).
    int port() const;
    // Closes every connection; the pages' WebSockets end.
    void stop();

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};
