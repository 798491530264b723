// The cookie store: parsing "Set-Cookie", storing, choosing and ordering the
// cookies of a request (see cookie_manager.h).
#include "http/cookie_manager.h"

#include "http/socket_layer.h"
#include "rtl/text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unordered_map>

namespace kv {
namespace {

using Clock = std::chrono::system_clock;

bool is_web_protocol(std::string_view p) {
    return same_text_ascii_fold(p, "http") || same_text_ascii_fold(p, "https") ||
           same_text_ascii_fold(p, "shttp");
}

bool starts_with_fold(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && same_text_ascii_fold(s.substr(0, prefix.size()), prefix);
}

bool domain_match(std::string_view host, std::string_view domain) {
    if (same_text_ascii_fold(host, domain)) return true;
    if (domain.empty() || host.size() <= domain.size() || IsIP(host) ||
        host.find(':') != std::string_view::npos)
        return false;
    return same_text_ascii_fold(host.substr(host.size() - domain.size()), domain) &&
           host[host.size() - domain.size() - 1] == '.';
}

// A cookie's identity in the store: name, domain and path with A-Z folded,
// and whether it is host-only (lengths first, so no two identities run together).
std::string identity(const TNetCookie& c) {
    return std::to_string(c.Name.size()) + ':' + std::to_string(c.Domain.size()) + ':' +
           (c.HostOnly ? '1' : '0') + ascii_lower(c.Name) + ascii_lower(c.Domain) + ascii_lower(c.Path);
}

std::string default_path(const TNetURI& uri) {
    std::string p = uri.Path + uri.Document;
    if (p.empty() || p[0] != '/') return "/";
    size_t last = p.rfind('/');
    return last == 0 ? "/" : p.substr(0, last);
}

bool path_match(std::string_view request, std::string_view cookie) {
    if (same_text_ascii_fold(request, cookie)) return true;
    if (!starts_with_fold(request, cookie)) return false;
    return (!cookie.empty() && cookie.back() == '/') || request[cookie.size()] == '/';
}

int month_index(std::string_view m) {
    static const char* names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                  "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i)
        if (m.size() >= 3 && same_text_ascii_fold(m.substr(0, 3), names[i])) return i;
    return -1;
}

std::optional<TNetCookie> parse_server_cookie(std::string_view text, const TNetURI& uri) {
    TNetCookie c;
    std::vector<std::pair<std::string, std::string>> attrs;
    size_t semi = text.find(';');
    std::string pair(text.substr(0, semi));
    size_t eq = pair.find('=');
    if (eq == std::string::npos) return std::nullopt;
    c.Name = trim(pair.substr(0, eq));
    c.Value = trim(pair.substr(eq + 1));
    if (c.Name.empty()) return std::nullopt;
    while (semi != std::string_view::npos) {
        size_t next = text.find(';', semi + 1);
        std::string_view part =
            text.substr(semi + 1, next == std::string_view::npos ? next : next - semi - 1);
        size_t e = part.find('=');
        attrs.emplace_back(ascii_upper(trim(part.substr(0, e))),
                           e == std::string_view::npos ? "" : trim(part.substr(e + 1)));
        semi = next;
    }
    auto attr = [&](std::string_view name) -> std::optional<std::string> {
        std::optional<std::string> v;
        for (auto& [k, val] : attrs)
            if (k == name) v = val; // the last one counts
        return v;
    };
    Clock::time_point now = Clock::now();
    c.Created = c.LastAccessed = now;
    if (auto max_age = attr("MAX-AGE")) {
        char* end = nullptr;
        long long secs = std::strtoll(max_age->c_str(), &end, 10);
        if (max_age->empty() || *end) return std::nullopt;
        c.Persistent = true;
        c.Expires =
            secs <= 0 ? Clock::time_point::min() : now + std::chrono::seconds(std::min(secs, 1LL << 40));
    } else if (auto expires = attr("EXPIRES")) {
        Clock::time_point t;
        if (!parse_http_date(*expires, t)) return std::nullopt;
        c.Persistent = true;
        c.Expires = t;
    }
    auto domain = attr("DOMAIN");
    if (domain && !domain->empty()) {
        std::string d = *domain;
        if (d[0] == '.') d.erase(0, 1);
        if (!domain_match(uri.Host, d)) return std::nullopt;
        c.Domain = d;
        c.HostOnly = false;
    } else {
        c.Domain = uri.Host;
    }
    auto path = attr("PATH");
    c.Path = path && !path->empty() && (*path)[0] == '/' ? *path : default_path(uri);
    if (attr("SECURE")) {
        c.Secure = true;
        if (!same_text_ascii_fold(uri.Protocol, "https") && !same_text_ascii_fold(uri.Protocol, "shttp"))
            return std::nullopt;
    }
    if (attr("HTTPONLY")) {
        c.HttpOnly = true;
        if (!is_web_protocol(uri.Protocol)) return std::nullopt;
    }
    if (auto same_site = attr("SAMESITE")) c.SameSite = *same_site;
    if (c.Name.rfind("__Secure-", 0) == 0 && !c.Secure) return std::nullopt;
    if (c.Name.rfind("__Host-", 0) == 0 && !(c.Secure && c.HostOnly && path && *path == "/"))
        return std::nullopt;
    return c;
}

} // namespace

bool parse_http_date(std::string_view text, Clock::time_point& out) {
    // Tokens of digits and letters; the day, month, year and time are found by shape,
    // which covers "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT"
    // and "Sun Nov  6 08:49:37 1994".
    std::vector<std::string> tokens;
    std::string cur;
    for (char ch : text) {
        if ((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == ':') {
            cur += ch;
        } else if (!cur.empty()) {
            tokens.push_back(cur);
            cur.clear();
        }
    }
    if (!cur.empty()) tokens.push_back(cur);
    int day = -1, month = -1, year = -1, hh = -1, mm = -1, ss = -1;
    for (const std::string& t : tokens) {
        if (t.find(':') != std::string::npos) {
            if (std::sscanf(t.c_str(), "%d:%d:%d", &hh, &mm, &ss) != 3) return false;
        } else if (t[0] >= '0' && t[0] <= '9') {
            if (t.find_first_not_of("0123456789") != std::string::npos) return false;
            int v = std::atoi(t.c_str());
            if (day < 0 && t.size() <= 2)
                day = v;
            else if (year < 0)
                year = t.size() <= 2 ? (v < 70 ? 2000 + v : 1900 + v) : v;
        } else if (month < 0 && month_index(t) >= 0) {
            month = month_index(t);
        }
    }
    if (day < 1 || day > 31 || month < 0 || year < 1601 || year > 9999 || hh < 0 || hh > 23 || mm < 0 ||
        mm > 59 || ss < 0 || ss > 60)
        return false;
    using namespace std::chrono;
    year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month + 1)),
                       std::chrono::day(static_cast<unsigned>(day))};
    if (!ymd.ok()) return false;
    out = sys_days(ymd) + hours(hh) + minutes(mm) + seconds(ss);
    return true;
}

void TNetCookieManager::AddServerCookies(const std::vector<std::string>& ACookies, const TNetURI& AURI) {
    std::lock_guard lock(FLock);
    // The stored cookies by identity, built once per response: searching the
    // store for every line made a response's cost grow with the product of
    // its cookies and the store's. Deleted cookies are dropped at the end, so
    // the positions hold and the store keeps its order.
    std::unordered_map<std::string, size_t> index;
    index.reserve(FCookies.size() + ACookies.size());
    for (size_t i = 0; i < FCookies.size(); ++i)
        index.emplace(identity(FCookies[i]), i);
    std::vector<bool> deleted(FCookies.size());
    for (const std::string& text : ACookies) {
        std::optional<TNetCookie> c = parse_server_cookie(text, AURI);
        if (!c) continue;
        const std::string key = identity(*c);
        auto same = index.find(key);
        if (same != index.end() && !deleted[same->second]) {
            TNetCookie& old = FCookies[same->second];
            if (old.HttpOnly && !is_web_protocol(AURI.Protocol)) continue;
            c->Created = old.Created;
            // An expired replacement is how a server deletes a cookie.
            if (c->Expires <= Clock::now())
                deleted[same->second] = true;
            else
                old = *c;
            continue;
        }
        if (c->Expires <= Clock::now()) continue;
        index.insert_or_assign(key, FCookies.size());
        FCookies.push_back(*c);
        deleted.push_back(false);
    }
    size_t at = 0;
    std::erase_if(FCookies, [&](const TNetCookie&) { return deleted[at++]; });
}

void TNetCookieManager::GenerateClientCookies(const TNetURI& AURI, bool SecureOnly, TNetHeaderList& Headers) {
    std::lock_guard lock(FLock);
    Clock::time_point now = Clock::now();
    std::erase_if(FCookies, [&](const TNetCookie& c) { return c.Expires <= now; });
    std::string request_path = AURI.Path + AURI.Document;
    std::vector<TNetCookie*> chosen;
    for (TNetCookie& c : FCookies) {
        bool host_ok =
            c.HostOnly ? same_text_ascii_fold(c.Domain, AURI.Host) : domain_match(AURI.Host, c.Domain);
        if (!host_ok || !path_match(request_path, c.Path)) continue;
        if (c.Secure && !SecureOnly) continue;
        if (c.HttpOnly && !is_web_protocol(AURI.Protocol)) continue;
        chosen.push_back(&c);
    }
    if (chosen.empty()) return;
    std::stable_sort(chosen.begin(), chosen.end(), [](const TNetCookie* a, const TNetCookie* b) {
        if (a->Path.size() != b->Path.size()) return a->Path.size() > b->Path.size();
        return a->Created < b->Created;
    });
    std::string line;
    for (TNetCookie* c : chosen) {
        c->LastAccessed = now;
        if (!line.empty()) line += "; ";
        line += c->Name + "=" + c->Value;
    }
    Headers.Add("Cookie: " + line);
}

std::vector<TNetCookie> TNetCookieManager::Cookies() const {
    std::lock_guard lock(FLock);
    return FCookies;
}

} // namespace kv
