// TCP sockets on Windows: WinSock 2, whose error codes are the ones the rest
// of the program reports.
#include "platform/sockets.h"
#include "platform/unicode.h"

#include <cstring>
#include <mutex>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace kv::os {
namespace {

uint32_t last() {
    return static_cast<uint32_t>(WSAGetLastError());
}
SOCKET raw(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

bool make_address(std::string_view address, uint16_t port, int ip_version, sockaddr_storage& addr, int& len) {
    std::wstring text = to_wide(address);
    std::memset(&addr, 0, sizeof addr);
    if (ip_version == 6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        len = sizeof *a;
        return text.empty() || InetPtonW(AF_INET6, text.c_str(), &a->sin6_addr) == 1;
    }
    auto* a = reinterpret_cast<sockaddr_in*>(&addr);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    len = sizeof *a;
    return text.empty() || InetPtonW(AF_INET, text.c_str(), &a->sin_addr) == 1;
}

} // namespace

uint32_t socket_startup() {
    static std::once_flag once;
    static uint32_t result = 0;
    std::call_once(once, [] {
        WSADATA data;
        result = static_cast<uint32_t>(WSAStartup(MAKEWORD(2, 2), &data));
    });
    return result;
}

uint32_t resolve_host(std::string_view host, int ip_version, std::string& address) {
    ADDRINFOW hints{};
    hints.ai_family = ip_version == 6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* res = nullptr;
    if (GetAddrInfoW(to_wide(host).c_str(), nullptr, &hints, &res) != 0) return last();
    wchar_t buf[INET6_ADDRSTRLEN] = {};
    if (res->ai_family == AF_INET6)
        InetNtopW(AF_INET6, &reinterpret_cast<sockaddr_in6*>(res->ai_addr)->sin6_addr, buf, INET6_ADDRSTRLEN);
    else
        InetNtopW(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, buf, INET6_ADDRSTRLEN);
    FreeAddrInfoW(res);
    address = from_wide(buf);
    return 0;
}

SocketHandle socket_open(int ip_version, uint32_t& error) {
    SOCKET s = ::socket(ip_version == 6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error = last();
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

uint32_t socket_connect(SocketHandle s, std::string_view address, uint16_t port, int ip_version) {
    sockaddr_storage addr;
    int len;
    if (!make_address(address, port, ip_version, addr, len)) return WSAEADDRNOTAVAIL;
    if (::connect(raw(s), reinterpret_cast<sockaddr*>(&addr), len) != 0) return last();
    return 0;
}

uint32_t socket_listen(SocketHandle s, std::string_view address, uint16_t port, int backlog) {
    sockaddr_storage addr;
    int len;
    int ip_version = address.find(':') != std::string_view::npos ? 6 : 4;
    if (!make_address(address, port, ip_version, addr, len)) return WSAEADDRNOTAVAIL;
    if (::bind(raw(s), reinterpret_cast<sockaddr*>(&addr), len) != 0) return last();
    if (::listen(raw(s), backlog) != 0) return last();
    return 0;
}

uint16_t socket_local_port(SocketHandle s) {
    sockaddr_storage addr{};
    int len = sizeof addr;
    if (getsockname(raw(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

SocketHandle socket_accept(SocketHandle s, uint32_t& error) {
    SOCKET c = ::accept(raw(s), nullptr, nullptr);
    if (c == INVALID_SOCKET) {
        error = last();
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(c);
}

int socket_wait_readable(SocketHandle s, int timeout_ms, uint32_t& error) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(raw(s), &set);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int r = ::select(0, &set, nullptr, nullptr, timeout_ms < 0 ? nullptr : &tv);
    if (r == SOCKET_ERROR) {
        error = last();
        return -1;
    }
    return r > 0 ? 1 : 0;
}

uint32_t socket_set_receive_timeout(SocketHandle s, int timeout_ms) {
    DWORD ms = static_cast<DWORD>(timeout_ms);
    if (setsockopt(raw(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms) != 0)
        return last();
    return 0;
}

int64_t socket_recv(SocketHandle s, void* buffer, size_t count, uint32_t& error) {
    int r = ::recv(raw(s), static_cast<char*>(buffer), static_cast<int>(count), 0);
    if (r == SOCKET_ERROR) {
        error = last();
        return -1;
    }
    return r;
}

int64_t socket_send(SocketHandle s, const void* buffer, size_t count, uint32_t& error) {
    int r = ::send(raw(s), static_cast<const char*>(buffer), static_cast<int>(count), 0);
    if (r == SOCKET_ERROR) {
        error = last();
        return -1;
    }
    return r;
}

void socket_shutdown_send(SocketHandle s) {
    ::shutdown(raw(s), SD_SEND);
}
void socket_close(SocketHandle s) {
    ::closesocket(raw(s));
}

void socket_reset(SocketHandle s) {
    linger l{1, 0};
    setsockopt(raw(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    ::closesocket(raw(s));
}

} // namespace kv::os
