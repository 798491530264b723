// The scripted loopback HTTP server (see http_script_server.h).
#include "http_script_server.h"

#include <chrono>
#include <stdexcept>

namespace kv::test {

HttpScriptServer::HttpScriptServer(std::vector<ConnectionScript> scripts) : FScripts(std::move(scripts)) {
    os::socket_startup();
    uint32_t error = 0;
    FListen = os::socket_open(4, error);
    if (FListen == os::kInvalidSocket || os::socket_listen(FListen, "127.0.0.1", 0, 16) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    FPort = os::socket_local_port(FListen);
    FThread = std::thread([this] { run(); });
}

HttpScriptServer::~HttpScriptServer() {
    FStop = true;
    FThread.join();
    os::socket_close(FListen);
}

std::string HttpScriptServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

std::vector<std::string> HttpScriptServer::requests() const {
    std::lock_guard lock(FLock);
    return FRequests;
}

bool HttpScriptServer::wait_scripts_done(int n) const {
    for (int i = 0; i < 500 && FDone < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return FDone >= n;
}

void HttpScriptServer::run() {
    size_t next = 0;
    while (!FStop) {
        uint32_t error = 0;
        if (os::socket_wait_readable(FListen, 20, error) != 1) continue;
        os::SocketHandle s = os::socket_accept(FListen, error);
        if (s == os::kInvalidSocket) continue;
        ++FAccepted;
        if (next < FScripts.size())
            serve(s, FScripts[next++]);
        else
            os::socket_close(s);
        ++FDone;
    }
}

bool HttpScriptServer::read_head(os::SocketHandle s, std::string& pending) {
    for (;;) {
        size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::lock_guard lock(FLock);
            FRequests.push_back(pending.substr(0, end + 4));
            pending.erase(0, end + 4);
            return true;
        }
        uint32_t error = 0;
        int ready = os::socket_wait_readable(s, 20, error);
        if (FStop) return false;
        if (ready == 0) continue;
        char buf[4096];
        int64_t n = ready < 0 ? -1 : os::socket_recv(s, buf, sizeof buf, error);
        if (n <= 0) return false;
        pending.append(buf, static_cast<size_t>(n));
    }
}

void HttpScriptServer::serve(os::SocketHandle s, const ConnectionScript& script) {
    std::string pending;
    for (const ServerStep& step : script) {
        switch (step.kind) {
        case ServerStep::ReadRequest:
            if (!read_head(s, pending)) {
                os::socket_close(s);
                return;
            }
            break;
        case ServerStep::Send: {
            size_t sent = 0;
            while (sent < step.bytes.size()) {
                uint32_t error = 0;
                int64_t n = os::socket_send(s, step.bytes.data() + sent, step.bytes.size() - sent, error);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            break;
        }
        case ServerStep::Pause:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
            break;
        case ServerStep::Hold:
            for (;;) {
                uint32_t error = 0;
                int ready = os::socket_wait_readable(s, 20, error);
                if (FStop || ready < 0) break;
                char buf[4096];
                if (ready > 0 && os::socket_recv(s, buf, sizeof buf, error) <= 0) break;
            }
            break;
        case ServerStep::Close:
            os::socket_close(s);
            return;
        case ServerStep::Reset:
            os::socket_reset(s);
            return;
        }
    }
    os::socket_close(s);
}

} // namespace kv::test
