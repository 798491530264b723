// The process-wide socket layer and host resolution (see socket_layer.h).
#include "http/socket_layer.h"

#include "http/net_exceptions.h"
#include "platform/sockets.h"
#include "rtl/text.h"

#include <mutex>

namespace kv {
namespace {

std::mutex GStackCriticalSection;
int GStackUsage = 0;

} // namespace

bool IsIP(std::string_view host) {
    int parts = 0;
    size_t i = 0;
    while (true) {
        size_t start = i;
        int value = 0;
        while (i < host.size() && host[i] >= '0' && host[i] <= '9' && i - start < 3)
            value = value * 10 + (host[i++] - '0');
        if (i == start || value > 255) return false;
        ++parts;
        if (i == host.size()) return parts == 4;
        if (host[i] != '.' || parts == 4) return false;
        ++i;
    }
}

std::string ResolveHost(std::string_view host, int ip_version) {
    if (same_text_ascii_fold(host, "localhost")) return ip_version == 6 ? "::1" : "127.0.0.1";
    if (ip_version == 4 && IsIP(host)) return std::string(host);
    std::string address;
    if (uint32_t code = os::resolve_host(host, ip_version, address)) RaiseSocketError(code);
    return address;
}

void IncUsage() {
    std::lock_guard lock(GStackCriticalSection);
    if (GStackUsage == 0 && os::socket_startup() != 0)
        throw ENetWinsockStubError("Error on loading Winsock2 library (WS2_32.DLL)");
    ++GStackUsage;
}

void DecUsage() {
    std::lock_guard lock(GStackCriticalSection);
    --GStackUsage;
}

} // namespace kv
