// The framing of a response body, from status, headers and method alone:
// the cases where a body is absent, and which delimiter wins when a response
// names more than one.
#include "http/body_framing.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct Case {
    const char* name;
    int code;
    const char* method;
    const char* transfer_encoding;
    int64_t content_length; // -1: no Content-Length
    const char* content_type;
    BodyFraming framing;
    bool only_if_bytes_follow;
};

TEST(BodyFraming, FromStatusHeadersAndMethod) {
    const Case cases[] = {
        {"HEAD has none", 200, "HEAD", "", 100, "", BodyFraming::None, false},
        {"1xx has none", 101, "GET", "", -1, "", BodyFraming::None, false},
        {"204 has none", 204, "GET", "", -1, "", BodyFraming::None, false},
        {"304 has none", 304, "GET", "chunked", -1, "", BodyFraming::None, false},
        {"a length of 0 is none", 200, "GET", "", 0, "", BodyFraming::None, false},
        {"chunked wins over a length", 200, "GET", "gzip, Chunked", 10, "", BodyFraming::Chunked, false},
        {"a length", 200, "GET", "", 10, "multipart/mixed; boundary=x", BodyFraming::Length, false},
        {"multipart without a length", 200, "GET", "", -1, " Multipart/Mixed; boundary=x",
         BodyFraming::Multipart, false},
        {"nothing else: until the close", 200, "GET", "", -1, "text/html", BodyFraming::UntilClose, false},
        {"a redirect's body only if it comes", 302, "GET", "", 5, "", BodyFraming::Length, true},
        {"a redirect that says it has none", 301, "GET", "", 0, "", BodyFraming::None, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNetHTTPResponse r;
        r.ResponseCode = c.code;
        r.TransferEncoding = c.transfer_encoding;
        r.ContentLength = c.content_length;
        r.ContentType = c.content_type;
        const BodyFrame f = body_framing(r, c.method);
        EXPECT_EQ(f.framing, c.framing);
        EXPECT_EQ(f.only_if_bytes_follow, c.only_if_bytes_follow);
    }
}

} // namespace
} // namespace kv
