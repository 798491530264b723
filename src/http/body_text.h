// What the body reader learns about a body's text without changing its bytes:
// the character set declared inside HTML, XML and JSON bodies, and the body
// as UTF-8 text for the message of an error status.
#pragma once

#include "http/header_list.h"
#include "rtl/stream.h"

#include <cstdint>
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

// How much of a body is kept for what is learnt from its text: enough for
// any head, declaration or error page, and bounded whatever the body's size
// (a 32-bit process cannot hold a large body in memory next to its file).
inline constexpr size_t kBodyHeadBytes = 65536;

// A stream that passes every byte on to `target` unchanged and keeps the first
// `limit` bytes written; with no target, the rest is discarded. Its position
// and size are the target's, or with no target those of the bytes written.
class TBodyHeadStream : public TStream {
public:
    TBodyHeadStream(TStream* target, size_t limit) : FTarget(target), FLimit(limit) {}
    const std::string& Head() const noexcept { return FHead; }

    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override;

private:
    TStream* FTarget;
    size_t FLimit;
    std::string FHead;
    int64_t FPos = 0, FSize = 0;
};

} // namespace kv
