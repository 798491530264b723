// URL parsing and resolution against the component's current target.
#include "http/uri.h"

#include "http/net_exceptions.h"
#include "rtl/text.h"

#include <vector>

namespace kv {
namespace {

// After the scheme (and the two slashes that may follow it), backslashes
// before the query or fragment become "/".
std::string fix_backslashes(std::string_view url) {
    std::string s(url);
    size_t start = s.find(':');
    start = start == std::string::npos ? 0 : start + 1;
    for (int k = 0; k < 2 && start < s.size() && (s[start] == '/' || s[start] == '\\'); ++k)
        ++start;
    size_t end = s.find_first_of("?#", start);
    if (end == std::string::npos) end = s.size();
    for (size_t i = start; i < end; ++i)
        if (s[i] == '\\') s[i] = '/';
    return s;
}

void split_params(std::string& rest, TNetURI& u) {
    size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        u.Bookmark = rest.substr(hash + 1);
        rest.resize(hash);
    }
    size_t q = rest.find('?');
    if (q != std::string::npos) {
        u.Params = rest.substr(q + 1);
        rest.resize(q);
    }
}

std::string resolve_relative(const std::string& base, const std::string& rel) {
    std::string joined = base;
    if (!joined.empty() && joined.back() != '/' && !rel.empty()) joined += '/';
    joined += rel;
    std::vector<std::string> segs;
    size_t i = 0;
    while (i <= joined.size()) {
        size_t j = joined.find('/', i);
        if (j == std::string::npos) j = joined.size();
        std::string seg = joined.substr(i, j - i);
        if (seg == "..") {
            if (!segs.empty()) segs.pop_back();
        } else if (!seg.empty()) {
            segs.push_back(seg);
        }
        i = j + 1;
    }
    std::string out = "/";
    for (size_t k = 0; k < segs.size(); ++k)
        out += (k ? "/" : "") + segs[k];
    bool keep_slash = rel.empty() || rel.back() == '/';
    if (keep_slash && out.size() > 1) out += '/';
    return out;
}

} // namespace

TNetURI TNetURI::Parse(std::string_view url_in) {
    TNetURI u;
    std::string url = fix_backslashes(url_in);
    size_t sep = url.find("://");
    bool absolute = sep != std::string::npos || url.rfind("//", 0) == 0;
    if (!absolute) {
        split_params(url, u);
        size_t last = url.rfind('/');
        u.Path = last == std::string::npos ? "" : url.substr(0, last + 1);
        u.Document = last == std::string::npos ? url : url.substr(last + 1);
        return u;
    }
    std::string rest;
    if (sep != std::string::npos) {
        u.Protocol = url.substr(0, sep);
        rest = url.substr(sep + 3);
    } else {
        rest = url.substr(2);
    }
    split_params(rest, u);
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    std::string remainder = slash == std::string::npos ? "" : rest.substr(slash + 1);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        std::string user = authority.substr(0, at);
        authority = authority.substr(at + 1);
        size_t colon = user.find(':');
        u.Username = user.substr(0, colon);
        if (colon != std::string::npos && !u.Username.empty()) u.Password = user.substr(colon + 1);
    }
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        u.Host = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        u.IPVersion = 6;
        if (close != std::string::npos && close + 1 < authority.size() && authority[close + 1] == ':')
            u.Port = authority.substr(close + 2);
    } else {
        size_t colon = authority.find(':');
        u.Host = authority.substr(0, colon);
        if (colon != std::string::npos) u.Port = authority.substr(colon + 1);
    }
    size_t last = remainder.rfind('/');
    u.Path.assign(1, '/');
    if (last != std::string::npos) u.Path.append(remainder, 0, last + 1);
    u.Document = last == std::string::npos ? remainder : remainder.substr(last + 1);
    return u;
}

std::string ResolveTarget(TNetURI& cur, const TNetURI& url) {
    if (!url.Username.empty()) {
        cur.Username = url.Username;
        cur.Password = url.Password;
    }
    if (!url.Path.empty() && url.Path[0] == '/')
        cur.Path = url.Path;
    else
        cur.Path = resolve_relative(cur.Path, url.Path);
    cur.Document = url.Document;
    cur.Params = url.Params;
    cur.Bookmark = url.Bookmark;
    if (!url.Host.empty()) cur.Host = url.Host;
    if (!url.Protocol.empty())
        cur.Protocol = url.Protocol;
    else
        cur.Protocol = same_text_ascii_fold(cur.Protocol, "https") ? "https" : "http";
    if (!url.Port.empty())
        cur.Port = url.Port;
    else if (same_text_ascii_fold(url.Protocol, "http"))
        cur.Port = "80";
    else if (same_text_ascii_fold(url.Protocol, "https"))
        cur.Port = "443";
    if (cur.Port.empty()) throw ENetUnknownProtocol("Unknown Protocol");
    // A URL without a host keeps the current host and therefore its IP version.
    if (!url.Host.empty()) cur.IPVersion = url.IPVersion;
    std::string path = cur.Path + cur.Document;
    if (!cur.Params.empty()) path += "?" + cur.Params;
    return path;
}

std::string HostHeaderValue(const TNetURI& t) {
    std::string host = t.IPVersion == 6 ? "[" + t.Host + "]" : t.Host;
    bool default_port = (same_text_ascii_fold(t.Protocol, "http") && t.Port == "80") ||
                        (same_text_ascii_fold(t.Protocol, "https") && t.Port == "443");
    if (!default_port) host += ":" + t.Port;
    return host;
}

} // namespace kv
