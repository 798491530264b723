// The framing of a response body (see body_framing.h).
#include "http/body_framing.h"

#include "rtl/text.h"

namespace kv {

BodyFrame body_framing(const TNetHTTPResponse& response, std::string_view method) {
    const bool chunked = ascii_lower(response.TransferEncoding).find("chunked") != std::string::npos;
    const bool expected = chunked || !response.HasContentLength() || response.ContentLength > 0;
    const int code = response.ResponseCode;
    if (!expected || method == "HEAD" || (code >= 100 && code <= 199) || code == 204 || code == 304)
        return {};
    BodyFrame frame;
    frame.only_if_bytes_follow = code >= 300 && code <= 399;
    const std::string type = ascii_lower(trim(
        std::string_view(response.ContentType).substr(0, std::string_view(response.ContentType).find(';'))));
    if (chunked)
        frame.framing = BodyFraming::Chunked;
    else if (response.HasContentLength())
        frame.framing = BodyFraming::Length;
    else if (type.rfind("multipart", 0) == 0)
        frame.framing = BodyFraming::Multipart;
    else
        frame.framing = BodyFraming::UntilClose;
    return frame;
}

} // namespace kv
