// What the HTTP client's connections share in a process: the socket layer,
// started by the first network component and released by the last (a count
// under a lock), and the resolution of a host name to the address a
// connection dials.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// True for four decimal numbers 0-255 separated by "." and nothing else.
bool IsIP(std::string_view host);
// "LOCALHOST" and IP literals give themselves without a lookup; anything else
// is looked up and the first address of the answer is used. Raises
// ENetSocketError with the lookup's code.
std::string ResolveHost(std::string_view host, int ip_version);

// The process-wide socket layer: started by the first network component,
// released by the last. Raises ENetWinsockStubError when it cannot start.
void IncUsage();
void DecUsage();

} // namespace kv
