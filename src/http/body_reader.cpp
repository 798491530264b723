// The body reader of TNetHTTP: whether a body is read, how its end is found
// (chunked coding, Content-Length, multipart boundary, close of the
// connection), and the whole-body buffering of HTML, XML and JSON bodies,
// whose declared character set is taken from the body. Body bytes go from
// the connection's input buffer straight to the target stream otherwise.
#include "http/body_text.h"
#include "http/net_exceptions.h"
#include "http/net_http.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"
#include "rtl/text.h"

#include <algorithm>
#include <memory>

namespace kv {
namespace {

enum class ParseKind { None, Html, Xml, Json };

std::string media_type(std::string_view content_type) {
    return ascii_lower(trim(content_type.substr(0, content_type.find(';'))));
}

bool structured_suffix(const std::string& type, std::string_view suffix) {
    size_t slash = type.find('/');
    if (slash == std::string::npos || type.substr(0, slash) == "text") return false;
    return type.size() >= suffix.size() &&
           type.compare(type.size() - suffix.size(), suffix.size(), suffix) == 0;
}

ParseKind parse_kind(const std::string& type) {
    if (type == "text/html" || type == "text/html-sandboxed" || type == "application/xhtml+xml")
        return ParseKind::Html;
    if (type == "application/xml" || type == "application/xml-external-parsed-entity" ||
        type == "application/xml-dtd" || structured_suffix(type, "+xml"))
        return ParseKind::Xml;
    if (type == "application/json" || type == "application/javascript" ||
        type == "application/x-javascript" || structured_suffix(type, "+json"))
        return ParseKind::Json;
    return ParseKind::None;
}

// The chunk size of a chunk-size line: extensions after ";" ignored, a line
// that is no hexadecimal number counts as 0. A size beyond the 32-bit signed
// range is refused rather than read as a negative count.
int32_t chunk_size(std::string_view line) {
    std::string hex = trim(line.substr(0, line.find(';')));
    if (hex.empty()) return 0;
    int64_t v = 0;
    for (char c : hex) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) return 0;
        v = v * 16 + d;
        if (v > INT32_MAX) throw ENetMalformedChunk("Invalid chunk size.");
    }
    return static_cast<int32_t>(v);
}

} // namespace

void TNetHTTP::ReadChunked(TStream* target) {
    TNetIOHandlerStack& io = *FIOHandler;
    DoStatus(TNetStatus::hsStatusText, "Chunk Started");
    BeginWork(TWorkMode::wmRead);
    in_any_case(
        [&] {
            int32_t size = chunk_size(io.ReadLn());
            while (size != 0) {
                if (target)
                    io.ReadStream(target, size);
                else
                    io.Discard(size);
                io.ReadLn();
                size = chunk_size(io.ReadLn());
            }
            // Trailer lines beyond the header line limit are read and dropped, so
            // that an endless trailer cannot grow the headers without bound.
            int kept = 0;
            for (std::string line = io.ReadLn(); !line.empty(); line = io.ReadLn())
                if (kept++ < MaxHeaderLines) FResponse.RawHeaders.Add(std::move(line));
        },
        [&] { EndWork(TWorkMode::wmRead); });
}

void TNetHTTP::ReadMultipart(TStream* target, const std::string& boundary) {
    TNetIOHandlerStack& io = *FIOHandler;
    BeginWork(TWorkMode::wmRead);
    in_any_case(
        [&] {
            if (!io.ReadStreamUntil(target, "--" + boundary + "--")) return;
            try {
                io.ReadLn(); // the rest of the closing marker's line
            } catch (const ENetConnClosedGracefully&) {
                // the marker ended the body even without a line end
            }
        },
        [&] { EndWork(TWorkMode::wmRead); });
}

void TNetHTTP::ReadResult() {
    TNetIOHandlerStack& io = *FIOHandler;
    TStream* target = FResponse.ContentStream;
    std::string type = media_type(FResponse.ContentType);
    bool chunked = ascii_lower(FResponse.TransferEncoding).find("chunked") != std::string::npos;
    bool multipart = type.rfind("multipart", 0) == 0;

    bool expected = chunked || !FResponse.HasContentLength() || FResponse.ContentLength > 0;
    int code = FResponse.ResponseCode;
    if (!expected || FRequest.Method == "HEAD" || (code >= 100 && code <= 199) || code == 204 || code == 304)
        return;
    if (code >= 300 && code <= 399 && !io.CheckForDataOnSource(5000)) return;

    ParseKind kind = target ? parse_kind(type) : ParseKind::None;
    std::unique_ptr<TMemoryStream> temporary;
    if (kind != ParseKind::None && !dynamic_cast<TMemoryStream*>(target))
        temporary = std::make_unique<TMemoryStream>();
    TStream* write = temporary ? temporary.get() : target;
    int64_t start = write ? write->Position() : 0;

    if (chunked) {
        ReadChunked(write);
    } else if (FResponse.HasContentLength()) {
        // A close before the announced length raises: a cut body must never look complete.
        if (write)
            io.ReadStream(write, FResponse.ContentLength);
        else
            io.Discard(FResponse.ContentLength);
    } else if (multipart) {
        ReadMultipart(write, content_type_param(FResponse.ContentType, "boundary"));
    } else if (write) {
        io.ReadStream(write, -1, true);
    } else {
        io.DiscardAll();
    }

    if (kind == ParseKind::None) return;
    // The body as read, from where it began in the temporary stream or the caller's memory stream.
    std::string_view body;
    if (auto* mem = dynamic_cast<TMemoryStream*>(write)) {
        std::string_view all = mem->View();
        size_t b = std::min(static_cast<size_t>(start), all.size());
        size_t e = std::min(static_cast<size_t>(mem->Position()), all.size());
        body = all.substr(b, e > b ? e - b : 0);
    }
    if (kind == ParseKind::Html) {
        HtmlMeta meta = scan_html_meta(body);
        for (const std::string& line : meta.Headers.Lines) {
            FResponse.MetaHTTPEquiv.Add(line);
            size_t colon = line.find(':');
            FResponse.RawHeaders.SetValue(line.substr(0, colon), trim(line.substr(colon + 1)));
        }
        if (!meta.Headers.Lines.empty()) FResponse.ProcessHeaders();
        if (!meta.CharSet.empty()) FResponse.CharSet = meta.CharSet;
    } else if (kind == ParseKind::Xml) {
        FResponse.CharSet = xml_charset(body);
    } else {
        FResponse.CharSet = json_charset(body);
    }
    if (temporary) {
        temporary->SetPosition(0);
        int64_t left = temporary->Size();
        while (left > 0) {
            int64_t n = std::min<int64_t>(left, 1048576);
            target->CopyFrom(*temporary, n);
            left -= n;
        }
    }
}

} // namespace kv
