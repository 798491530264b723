// The relay that cuts the line (see cutting_relay.h).
#include "../cutting_relay.h"

#include <algorithm>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::test {
namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// Passes bytes both ways until either side ends, or until `cut` bytes of the
// server's have passed; returns whether it cut the line.
bool relay(int client, int server, size_t cut) {
    char buffer[16384];
    size_t passed = 0;
    for (;;) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(fds, 2, 10000) <= 0) return false;
        if (fds[0].revents) {
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0 || ::send(server, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) return false;
        }
        if (fds[1].revents) {
            ssize_t n = ::recv(server, buffer, std::min(sizeof buffer, cut - passed), 0);
            if (n <= 0 || ::send(client, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) return false;
            passed += static_cast<size_t>(n);
            if (passed >= cut) return true;
        }
    }
}

} // namespace

CuttingRelay::CuttingRelay(uint16_t upstream, std::vector<size_t> cuts, std::function<void()> on_cut)
    : FUpstream(upstream), FCuts(std::move(cuts)), FOnCut(std::move(on_cut)) {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(FListen, 8) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(FListen);
        throw std::runtime_error("relay: cannot listen");
    }
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { run(); });
}

CuttingRelay::~CuttingRelay() {
    ::shutdown(FListen, SHUT_RDWR);
    ::close(FListen);
    FThread.join();
}

std::string CuttingRelay::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

void CuttingRelay::run() {
    for (size_t index = 0;; ++index) {
        int client = ::accept(FListen, nullptr, nullptr);
        if (client < 0) return;
        int server = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = loopback(FUpstream);
        bool cut = false;
        if (::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
            cut = relay(client, server, index < FCuts.size() ? FCuts[index] : SIZE_MAX);
        ::close(server);
        ::close(client);
        if (cut && FOnCut) FOnCut();
    }
}

} // namespace kv::test
