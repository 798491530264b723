// TCP sockets on Linux: BSD sockets, with errno and getaddrinfo results
// mapped to the WinSock codes the rest of the program reports.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::os {
namespace {

uint32_t winsock_code(int e) {
    switch (e) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
        return 10024;
    case EWOULDBLOCK:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    // A send to a peer that has reset the connection gives EPIPE here and
    // WSAECONNRESET on Windows.
    case EPIPE:
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    default:
        return static_cast<uint32_t>(e);
    }
}

uint32_t gai_code(int r) {
    switch (r) {
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
    case EAI_NODATA:
        return 11004;
    case EAI_FAMILY:
        return 10047;
    case EAI_MEMORY:
        return 8;
    case EAI_SYSTEM:
        return winsock_code(errno);
    default:
        return 11001; // EAI_NONAME and the rest: the name is not known
    }
}

uint32_t last() {
    return winsock_code(errno);
}

// Fills addr from an address literal; false when it is not one.
bool make_address(std::string_view address, uint16_t port, int ip_version, sockaddr_storage& addr,
                  socklen_t& len) {
    std::string text(address);
    std::memset(&addr, 0, sizeof addr);
    if (ip_version == 6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        len = sizeof *a;
        return text.empty() || inet_pton(AF_INET6, text.c_str(), &a->sin6_addr) == 1;
    }
    auto* a = reinterpret_cast<sockaddr_in*>(&addr);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    len = sizeof *a;
    return text.empty() || inet_pton(AF_INET, text.c_str(), &a->sin_addr) == 1;
}

} // namespace

uint32_t socket_startup() {
    return 0;
}

uint32_t resolve_host(std::string_view host, int ip_version, std::string& address) {
    addrinfo hints{};
    hints.ai_family = ip_version == 6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    int r = getaddrinfo(std::string(host).c_str(), nullptr, &hints, &res);
    if (r != 0) return gai_code(r);
    char buf[INET6_ADDRSTRLEN] = {};
    if (res->ai_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(res->ai_addr)->sin6_addr, buf, sizeof buf);
    else
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, buf, sizeof buf);
    freeaddrinfo(res);
    address = buf;
    return 0;
}

SocketHandle socket_open(int ip_version, uint32_t& error) {
    int s = ::socket(ip_version == 6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) {
        error = last();
        return kInvalidSocket;
    }
    return s;
}

uint32_t socket_connect(SocketHandle s, std::string_view address, uint16_t port, int ip_version) {
    sockaddr_storage addr;
    socklen_t len;
    if (!make_address(address, port, ip_version, addr, len)) return kSocketAddressInvalid;
    while (::connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&addr), len) != 0)
        if (errno != EINTR) return last();
    return 0;
}

uint32_t socket_listen(SocketHandle s, std::string_view address, uint16_t port, int backlog) {
    sockaddr_storage addr;
    socklen_t len;
    int ip_version = address.find(':') != std::string_view::npos ? 6 : 4;
    if (!make_address(address, port, ip_version, addr, len)) return kSocketAddressInvalid;
    int one = 1;
    setsockopt(static_cast<int>(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&addr), len) != 0) return last();
    if (::listen(static_cast<int>(s), backlog) != 0) return last();
    return 0;
}

uint16_t socket_local_port(SocketHandle s) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

SocketHandle socket_accept(SocketHandle s, uint32_t& error) {
    int c;
    while ((c = ::accept4(static_cast<int>(s), nullptr, nullptr, SOCK_CLOEXEC)) < 0)
        if (errno != EINTR) {
            error = last();
            return kInvalidSocket;
        }
    return c;
}

int socket_wait_readable(SocketHandle s, int timeout_ms, uint32_t& error) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    for (;;) {
        int r = ::poll(&p, 1, timeout_ms < 0 ? -1 : timeout_ms);
        if (r >= 0) return r > 0 ? 1 : 0;
        if (errno != EINTR) {
            error = last();
            return -1;
        }
    }
}

uint32_t socket_set_receive_timeout(SocketHandle s, int timeout_ms) {
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return last();
    return 0;
}

int64_t socket_recv(SocketHandle s, void* buffer, size_t count, uint32_t& error) {
    for (;;) {
        ssize_t r = ::recv(static_cast<int>(s), buffer, count, 0);
        if (r >= 0) return r;
        if (errno != EINTR) {
            // The sockets are blocking: a receive gives up only when its time limit passed.
            error = errno == EAGAIN || errno == EWOULDBLOCK ? kSocketTimedOut : last();
            return -1;
        }
    }
}

int64_t socket_send(SocketHandle s, const void* buffer, size_t count, uint32_t& error) {
    for (;;) {
        ssize_t r = ::send(static_cast<int>(s), buffer, count, MSG_NOSIGNAL);
        if (r >= 0) return r;
        if (errno != EINTR) {
            error = last();
            return -1;
        }
    }
}

void socket_shutdown_send(SocketHandle s) {
    ::shutdown(static_cast<int>(s), SHUT_WR);
}
void socket_close(SocketHandle s) {
    ::close(static_cast<int>(s));
}

void socket_reset(SocketHandle s) {
    linger l{1, 0};
    setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(static_cast<int>(s));
}

} // namespace kv::os
