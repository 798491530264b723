// A scripted HTTP server on loopback for exact wire cases. Each accepted
// connection runs the next script: read a request head, send exact bytes,
// pause, close or reset. It records every request head it received and how
// many connections it accepted. Built on our sockets layer, so the same
// server runs inside the test executable under Wine.
#pragma once

#include "platform/sockets.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv::test {

struct ServerStep {
    enum Kind { ReadRequest, Send, Pause, Hold, Close, Reset } kind;
    std::string bytes;
    int ms = 0;
};
using ConnectionScript = std::vector<ServerStep>;

inline ServerStep read_request() {
    return {ServerStep::ReadRequest, {}, 0};
}
inline ServerStep send(std::string bytes) {
    return {ServerStep::Send, std::move(bytes), 0};
}
inline ServerStep pause(int ms) {
    return {ServerStep::Pause, {}, ms};
}
// Sends nothing more and keeps the connection open until the client closes
// it (or the server stops): a stalled server, with no clock involved.
inline ServerStep hold() {
    return {ServerStep::Hold, {}, 0};
}
inline ServerStep close_connection() {
    return {ServerStep::Close, {}, 0};
}
inline ServerStep reset_connection() {
    return {ServerStep::Reset, {}, 0};
}
// The usual exchange: read one request, answer with the bytes.
inline ConnectionScript respond(std::string bytes) {
    return {read_request(), send(std::move(bytes))};
}

class HttpScriptServer {
public:
    // A script that ends without Close or Reset closes in order. Connections
    // beyond the scripts are accepted, counted and closed at once.
    explicit HttpScriptServer(std::vector<ConnectionScript> scripts);
    ~HttpScriptServer();
    HttpScriptServer(const HttpScriptServer&) = delete;
    HttpScriptServer& operator=(const HttpScriptServer&) = delete;

    uint16_t port() const { return FPort; }
    std::string url(const std::string& path) const;
    // Request heads (up to and including the empty line), in arrival order.
    std::vector<std::string> requests() const;
    int connections() const { return FAccepted; }
    // Waits up to 5 s until the first n scripts have finished.
    bool wait_scripts_done(int n) const;

private:
    void run();
    void serve(os::SocketHandle s, const ConnectionScript& script);
    bool read_head(os::SocketHandle s, std::string& pending);

    std::vector<ConnectionScript> FScripts;
    os::SocketHandle FListen = os::kInvalidSocket;
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FAccepted{0};
    std::atomic<int> FDone{0};
    mutable std::mutex FLock;
    std::vector<std::string> FRequests;
    std::thread FThread;
};

} // namespace kv::test
