// TNetHTTP: the HTTP/1.1 client component. Get(URL, stream) sends one GET on
// a persistent connection, skips interim responses, and writes the body of a
// success response into the caller's stream as it arrives; an error status
// raises ENetHTTPProtocolException and leaves the caller's stream untouched.
// Progress is reported through the work events of TNetComponent. TLS,
// proxies, authentication and redirect following are not supported: an
// "https" URL raises, a redirect or an authentication challenge ends like any
// other error status.
#pragma once

#include "http/cookie_manager.h"
#include "http/header_list.h"
#include "http/io_handler.h"
#include "http/net_component.h"
#include "http/uri.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kv {

class TStream;

enum class TNetHTTPProtocolVersion { pv1_0, pv1_1 };

struct TNetHTTPRequest {
    std::string URL, Method = "GET", Connection, Host, AcceptEncoding;
    std::string Accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
    std::string UserAgent = "Mozilla/3.0 (compatible; KV Update 2027)";
    int64_t ContentLength = -1;
    TNetHeaderList CustomHeaders;
    TNetHeaderList RawHeaders; // the lines of the last request, as sent
};

struct TNetHTTPResponse {
    std::string ResponseText;
    int ResponseCode = -1;
    TNetHTTPProtocolVersion ResponseVersion = TNetHTTPProtocolVersion::pv1_0;
    bool KeepAlive = false;
    TStream* ContentStream = nullptr;
    TNetHeaderList RawHeaders, MetaHTTPEquiv;
    std::string Connection, ContentType, CharSet, ContentEncoding, TransferEncoding, Location, Server,
        ProxyConnection;
    int64_t ContentLength = -1;
    bool HasContentLength() const noexcept { return ContentLength >= 0; }

    void Clear();
    void SetResponseText(std::string text);
    // Takes the parsed fields from the raw header lines.
    void ProcessHeaders();
};

// The status code of a status line: the text after the first word, cut at the
// next space and at the first "."; -1 when that is no decimal number.
int ParseResponseCode(std::string_view status_line);

class TNetHTTP : public TNetComponent {
public:
    TNetHTTP();
    ~TNetHTTP() override;
    TNetHTTP(const TNetHTTP&) = delete;
    TNetHTTP& operator=(const TNetHTTP&) = delete;

    // One GET of AURL into AResponseContent, from its current position on.
    void Get(const std::string& AURL, TStream* AResponseContent);

    int ResponseCode() const noexcept { return FResponse.ResponseCode; }
    const std::string& ResponseText() const noexcept { return FResponse.ResponseText; }
    TNetHTTPResponse& Response() noexcept { return FResponse; }
    TNetHTTPRequest& Request() noexcept { return FRequest; }
    const TNetURI& URL() const noexcept { return FURI; }

    TNetHTTPProtocolVersion ProtocolVersion = TNetHTTPProtocolVersion::pv1_1;
    bool HandleRedirects = false;
    int RedirectMaximum = 15;
    bool AllowCookies = true;
    int MaxHeaderLines = 255;
    // Milliseconds without a byte before a read ends with ENetReadTimeout;
    // 0 or less: no limit. The updater runs on the window's thread with the
    // site's programs stopped, so a stalled server must not hold it forever.
    int ReadTimeout = 60000;
    // Bounds on what a server can make the client read before a body: the
    // bytes of one response's status line and header lines, and the interim
    // (1xx) responses before the final one.
    static constexpr int64_t MaxHeaderBytes = 1048576;
    static constexpr int MaxInterimResponses = 20;
    // Adds the bytes of one header or trailer line to a section's count;
    // raises ENetMalformedResponse once the section passes MaxHeaderBytes.
    static void CountHeaderBytes(int64_t& section_bytes, const std::string& line);

    // Called once the head of a success (2xx) response has been read, before
    // its body: the caller may look at the head and prepare its stream, or
    // raise to refuse the body (the connection is then closed).
    std::function<void(TNetHTTPResponse&)> OnResponseHead;
    // 0 or more: the most bytes a success body may carry (set before Get or
    // from OnResponseHead). A Content-Length beyond it is refused before the
    // body is read, and a body without one (chunked, or until the close) is
    // cut off with ENetBodyLengthRefused as soon as it would pass it, so the
    // caller's stream never receives more. -1: no bound.
    int64_t MaxBodyBytes = -1;

    TNetCookieManager* CookieManager() noexcept { return FCookieManager.get(); }
    // The connection handler; created at the first connect when none is set.
    TNetIOHandlerStack* IOHandler() noexcept { return FIOHandler.get(); }
    void SetIOHandler(std::unique_ptr<TNetIOHandlerStack> handler);

    bool Connected();
    void Disconnect();

private:
    void Connect();
    void PrepareConnection();
    bool ComputeKeepAlive();
    void BuildAndSendRequest(const std::string& path);
    // One line of the response head or of the chunked coding; raises
    // ENetReadTimeout when the read time limit passes.
    std::string ReadLine();
    void RetrieveHeaders(int AMaxHeaderCount);
    void ReadStatusAndHeaders();
    void ProcessResponse(TStream* caller_stream);
    [[noreturn]] void RaiseProtocolError(TStream* caller_stream);
    // The body reader: reads (or skips) the body of the current response
    // into the response's ContentStream.
    void ReadResult();
    void ReadChunked(TStream* target);
    void ReadMultipart(TStream* target, const std::string& boundary);

    TNetHTTPRequest FRequest;
    TNetHTTPResponse FResponse;
    TNetURI FURI;
    std::unique_ptr<TNetIOHandlerStack> FIOHandler;
    std::unique_ptr<TNetCookieManager> FCookieManager;
};

} // namespace kv
