// What the body reader learns about a body's text without changing its bytes:
// the character set declared inside HTML, XML and JSON bodies, and the body
// as UTF-8 text for the message of an error status.
#pragma once

#include "http/header_list.h"

#include <string>
#include <string_view>

namespace kv {

// The headers an HTML head declares: <meta http-equiv=... content=...> lines,
// and a <meta charset=...> as "charset" in the returned string.
struct HtmlMeta {
    TNetHeaderList Headers;
    std::string CharSet;
};
HtmlMeta scan_html_meta(std::string_view body);

// A byte-order mark or the encoding of the XML declaration; "UTF-8" when none.
std::string xml_charset(std::string_view body);
// "UTF-8" unless the zero bytes among the first four show UTF-16 or UTF-32.
std::string json_charset(std::string_view body);

// The body as UTF-8 text: UTF-8 (invalid sequences become U+FFFD) for
// "utf-8" or no charset when the bytes are valid UTF-8, Windows-1254 for the
// Turkish charsets, UTF-16 for "utf-16"/"utf-16le"/"utf-16be", and ISO 8859-1
// otherwise.
std::string body_text(std::string_view bytes, std::string_view charset);

} // namespace kv
