// TNetCookieManager: the cookies servers set, kept for the component's
// lifetime and sent back on later requests by the matching rules of the
// cookie standard (RFC 6265). Never saved.
#pragma once

#include "http/header_list.h"
#include "http/uri.h"

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace kv {

struct TNetCookie {
    using Time = std::chrono::system_clock::time_point;
    std::string Name, Value, Domain, Path, SameSite = "None";
    bool HostOnly = true, Secure = false, HttpOnly = false, Persistent = false;
    Time Expires = Time::max(), Created, LastAccessed;
};

class TNetCookieManager {
public:
    // The values of a response's "Set-Cookie" lines, for the request's target.
    void AddServerCookies(const std::vector<std::string>& ACookies, const TNetURI& AURI);
    // Appends one "Cookie" line for the cookies that match the target, if any.
    void GenerateClientCookies(const TNetURI& AURI, bool SecureOnly, TNetHeaderList& Headers);

    std::vector<TNetCookie> Cookies() const;

private:
    mutable std::mutex FLock;
    std::vector<TNetCookie> FCookies;
};

// Parses an HTTP date (RFC 1123, RFC 850 and asctime forms); false when it is none of them.
bool parse_http_date(std::string_view text, std::chrono::system_clock::time_point& out);

} // namespace kv
