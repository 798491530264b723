// TNetURI: a URL taken apart, and the component's current target that each
// request's URL is resolved against. Nothing is percent-encoded or decoded.
#pragma once

#include <string>
#include <string_view>

namespace kv {

struct TNetURI {
    std::string Protocol, Username, Password, Host, Port, Path, Document, Params, Bookmark;
    int IPVersion = 4;

    // Parses a URL: absolute ("scheme://authority/path", or "//authority/path") or a path.
    static TNetURI Parse(std::string_view url);
};

// Resolves the parsed URL against the current target, updating it. Raises
// ENetUnknownProtocol when no port can be found. Returns the request path
// (Path + Document, then "?" and Params when there are any).
std::string ResolveTarget(TNetURI& current, const TNetURI& url);

// The Host header value of the target.
std::string HostHeaderValue(const TNetURI& target);

} // namespace kv
