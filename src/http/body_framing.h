// How a response's body is delimited, decided from the response's status and
// headers and the request's method alone, before a byte of it is read: the
// body reader (body_reader.cpp) then reads by the answer. Nothing here reads
// or waits.
#pragma once

#include "http/net_http.h"

#include <string_view>

namespace kv {

enum class BodyFraming {
    None,       // no body: HEAD, 1xx, 204, 304, or a length of 0
    Chunked,    // Transfer-Encoding names chunked
    Length,     // Content-Length bytes
    Multipart,  // a multipart type without a length: up to the closing boundary
    UntilClose, // everything until the peer closes
};

struct BodyFrame {
    BodyFraming framing = BodyFraming::None;
    // A redirect's body (3xx) is read only when its first bytes arrive
    // within the reader's wait; otherwise the response has none.
    bool only_if_bytes_follow = false;
};

BodyFrame body_framing(const TNetHTTPResponse& response, std::string_view method);

} // namespace kv
