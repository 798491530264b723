// The body reader of TNetHTTP: reads the body as body_framing.h frames it
// (chunked coding, Content-Length, multipart boundary, close of the
// connection), and learns what is learnt from the text of HTML, XML and JSON bodies
// (meta headers, declared character set), taken from a bounded head of the
// body. Body bytes go from the connection's input buffer straight to the
// target stream.
#include "http/body_framing.h"
#include "http/body_text.h"
#include "http/net_exceptions.h"
#include "http/net_http.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"
#include "rtl/text.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace kv {
namespace {

// How long a redirect's body may take to start before the response is taken
// as having none.
constexpr int kRedirectBodyWaitMs = 5000;

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

// The chunk size of a chunk-size line: extensions after ";" and blanks around
// the number ignored. A line that is no hexadecimal number (empty, negative,
// garbled) is refused: taken as 0, the last chunk, it would end a cut body
// as if it were complete. So is a size beyond the 32-bit signed range.
int32_t chunk_size(std::string_view line) {
    std::string hex = trim(line.substr(0, line.find(';')));
    if (hex.empty()) throw ENetMalformedChunk("Invalid chunk size.");
    int64_t v = 0;
    for (char c : hex) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) throw ENetMalformedChunk("Invalid chunk size.");
        v = v * 16 + d;
        if (v > INT32_MAX) throw ENetMalformedChunk("Invalid chunk size.");
    }
    return static_cast<int32_t>(v);
}

// Passes a body to the stream under it and refuses, before writing them, the
// bytes that would take it past its end: a server must not be able to fill
// the disk with a body longer than the caller allows.
class TBoundedBodyStream : public TStream {
public:
    TBoundedBodyStream(TStream& inner, int64_t max_bytes)
        : FInner(inner), FEnd(inner.Position() + max_bytes), FMax(max_bytes) {}
    int64_t Read(void* buffer, int64_t count) override { return FInner.Read(buffer, count); }
    int64_t Write(const void* buffer, int64_t count) override {
        if (Position() + count > FEnd) refuse();
        return FInner.Write(buffer, count);
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FInner.Seek(offset, origin); }
    int64_t Size() override { return FInner.Size(); }
    // A memory stream is not sized ahead (see ReadStream); a file is, but
    // never past the bound.
    void SetSize(int64_t size) override {
        if (size > FEnd) refuse();
        if (!dynamic_cast<TMemoryStream*>(&FInner) || size < FInner.Size()) FInner.SetSize(size);
    }

private:
    [[noreturn]] void refuse() const {
        throw ENetBodyLengthRefused("Response body longer than the expected " + std::to_string(FMax) +
                                    " bytes.");
    }
    TStream& FInner;
    int64_t FEnd, FMax;
};

} // namespace

void TNetHTTP::ReadChunked(TStream* target) {
    TNetIOHandlerStack& io = *FIOHandler;
    DoStatus(TNetStatus::hsStatusText, "Chunk Started");
    BeginWork(TWorkMode::wmRead);
    in_any_case(
        [&] {
            int32_t size = chunk_size(ReadLine());
            while (size != 0) {
                if (target)
                    io.ReadStream(target, size);
                else
                    io.Discard(size);
                ReadLine();
                size = chunk_size(ReadLine());
            }
            // Trailer lines beyond the header line limit are read and dropped, so
            // that an endless trailer cannot grow the headers without bound; its
            // bytes are bounded like those of the header section.
            int kept = 0;
            int64_t bytes = 0;
            for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) {
                CountHeaderBytes(bytes, line);
                if (kept++ < MaxHeaderLines) FResponse.RawHeaders.Add(std::move(line));
            }
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
    const BodyFrame frame = body_framing(FResponse, FRequest.Method);
    if (frame.framing == BodyFraming::None) return;
    if (frame.only_if_bytes_follow && !io.CheckForDataOnSource(kRedirectBodyWaitMs)) return;
    std::string type = media_type(FResponse.ContentType);

    ParseKind kind = target ? parse_kind(type) : ParseKind::None;
    std::unique_ptr<TBodyHeadStream> head;
    if (kind != ParseKind::None && !dynamic_cast<TMemoryStream*>(target))
        head = std::make_unique<TBodyHeadStream>(target, kBodyHeadBytes);
    TStream* write = head ? head.get() : target;
    int64_t start = write ? write->Position() : 0;
    TStream* parsed = write; // where the body's text is looked at afterwards
    std::optional<TBoundedBodyStream> bounded;
    // The bound is the caller's, on a success body; an error body has its own limit.
    const int code = FResponse.ResponseCode;
    if (write && MaxBodyBytes >= 0 && code >= 200 && code <= 299)
        write = &bounded.emplace(*write, MaxBodyBytes);

    switch (frame.framing) {
    case BodyFraming::Chunked:
        ReadChunked(write);
        break;
    case BodyFraming::Length:
        // A close before the announced length raises: a cut body must never look complete.
        if (write)
            io.ReadStream(write, FResponse.ContentLength);
        else
            io.Discard(FResponse.ContentLength);
        break;
    case BodyFraming::Multipart:
        ReadMultipart(write, content_type_param(FResponse.ContentType, "boundary"));
        break;
    case BodyFraming::UntilClose:
        if (write)
            io.ReadStream(write, -1, true);
        else
            io.DiscardAll();
        break;
    case BodyFraming::None:
        break;
    }

    if (kind == ParseKind::None) return;
    // The body's head, or the body as read from where it began in the caller's memory stream.
    std::string_view body;
    if (head) {
        body = head->Head();
    } else if (auto* mem = dynamic_cast<TMemoryStream*>(parsed)) {
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
}

} // namespace kv
