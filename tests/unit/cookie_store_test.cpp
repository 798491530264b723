// The cookie store's identity rules within one response: a cookie of the
// same name, domain and path (letters A-Z folded) replaces the stored one in
// its place, an expired one deletes it, and the store keeps its order.
#include "http/cookie_manager.h"
#include "http/uri.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {
namespace {

std::vector<std::string> stored(const TNetCookieManager& m) {
    std::vector<std::string> out;
    for (const TNetCookie& c : m.Cookies())
        out.push_back(c.Name + "=" + c.Value + " " + c.Path);
    return out;
}

TEST(CookieStore, SameIdentityReplacesInPlaceAndExpiryDeletes) {
    const TNetURI uri = TNetURI::Parse("http://pkg.example.com/2027/kuvento.rar");
    const std::string past = "; Expires=Thu, 01 Jan 1970 00:00:00 GMT";
    TNetCookieManager m;
    m.AddServerCookies({"a=1", "b=1", "c=1; Path=/", "d=1"}, uri);
    const auto created_b = m.Cookies()[1].Created;
    m.AddServerCookies({"B=2", "b=3", "a=2; Path=/2027/x", "c=gone; Path=/" + past, "d=gone" + past, "d=4"},
                       uri);
    // "B" and then "b" replace "b=1" where it stood; another path is another
    // cookie; a deleted cookie set again goes last.
    EXPECT_EQ(stored(m), (std::vector<std::string>{"a=1 /2027", "b=3 /2027", "a=2 /2027/x", "d=4 /2027"}));
    EXPECT_EQ(m.Cookies()[1].Created, created_b);
}

} // namespace
} // namespace kv
