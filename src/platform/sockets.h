// TCP sockets, as the HTTP client and its tests need them from the operating
// system: WinSock 2 on Windows, BSD sockets on Linux.
//
// Every failure is reported as a WinSock error code (10061 refused, 10054
// reset, 10060 timed out, 11001 name not found, ...). On Linux the errno and
// getaddrinfo values are mapped to those codes here, so that the messages an
// operator reads are the same on both targets. Nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::os {

// The WinSock codes that callers act on.
constexpr uint32_t kSocketNotASocket = 10038;     // WSAENOTSOCK
constexpr uint32_t kSocketAddressInvalid = 10049; // WSAEADDRNOTAVAIL
constexpr uint32_t kSocketAborted = 10053;        // WSAECONNABORTED
constexpr uint32_t kSocketReset = 10054;          // WSAECONNRESET
constexpr uint32_t kSocketShutDown = 10058;       // WSAESHUTDOWN
constexpr uint32_t kSocketTimedOut = 10060;       // WSAETIMEDOUT

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Starts the socket library once per process (WSAStartup 2.2); 0 or the error code.
uint32_t socket_startup();

// The first address of the answer for host, as text ("127.0.0.1" or an IPv6
// literal); ip_version is 4 or 6. Returns 0 or the error code (11001, ...).
uint32_t resolve_host(std::string_view host, int ip_version, std::string& address);

// A TCP stream socket of the IP version, or kInvalidSocket with error set.
SocketHandle socket_open(int ip_version, uint32_t& error);
// Blocking connect to an address literal; 0 or the error code.
uint32_t socket_connect(SocketHandle s, std::string_view address, uint16_t port, int ip_version);
// Binds to the address literal and port (0: any free one) and listens; 0 or the error code.
uint32_t socket_listen(SocketHandle s, std::string_view address, uint16_t port, int backlog);
// The local port of a bound socket, 0 on failure.
uint16_t socket_local_port(SocketHandle s);
SocketHandle socket_accept(SocketHandle s, uint32_t& error);

// Waits until s is readable: 1 readable (or closed), 0 time limit passed,
// -1 failure with error set. timeout_ms < 0 waits without limit.
int socket_wait_readable(SocketHandle s, int timeout_ms, uint32_t& error);
// Bounds every later receive's wait to timeout_ms (0: no limit); a receive
// that waits longer fails with 10060. Returns 0 or the error code.
uint32_t socket_set_receive_timeout(SocketHandle s, int timeout_ms);
// -1 on failure with error set; 0 when the peer has closed.
int64_t socket_recv(SocketHandle s, void* buffer, size_t count, uint32_t& error);
// -1 on failure with error set. Never raises a signal for a closed peer.
int64_t socket_send(SocketHandle s, const void* buffer, size_t count, uint32_t& error);

void socket_shutdown_send(SocketHandle s);
void socket_close(SocketHandle s);
// Closes with an immediate reset (linger 0) instead of an orderly close.
void socket_reset(SocketHandle s);

} // namespace kv::os
