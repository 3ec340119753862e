// The HTTP side of korvane-cli serve: the page's built-in files, the API, and the WebSocket
// that pushes the state to every open page, on Boost.Beast over Asio. It is event-driven: a
// connection that is idle, slow or watching costs a socket and a small buffer, never a thread,
// so that no number of them keeps the others from an answer. Every request passes the same
// checks first (server/api.h), with its headers alone: the Host header (against DNS
// rebinding), the Origin of anything that changes state or opens the WebSocket (against
// cross-site requests), and, on an address other than the loopback one, the access token.
// A refused request is answered and its connection closed without its body being read.
// Bounds: connections from one address and in all, pages watching, the time a request may
// take to arrive, the bytes of its headers and body, and the queues of slow work.
#pragma once
#include <memory>
#include <string>

#include "server/server_options.h"

class instrument;

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
