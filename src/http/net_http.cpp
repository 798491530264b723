// The request cycle of TNetHTTP: target resolution, connection reuse, the
// request bytes, the status line and header lines, status handling and the
// keep-alive rule. Reading the body is in body_reader.cpp.
#include "http/net_http.h"

#include "http/body_text.h"
#include "http/net_exceptions.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"
#include "rtl/text.h"

#include <charconv>

namespace kv {
namespace {

bool is_close_value(std::string_view v) {
    return same_text_ascii_fold(trim(v), "close");
}

constexpr int kDefaultHttpPort = 80;
constexpr int kHighestPort = 65535;

// The port the URI names; the default one when it names none, or a number
// that is no port.
int port_of(const TNetURI& uri) {
    int port = kDefaultHttpPort;
    auto [end, ec] = std::from_chars(uri.Port.data(), uri.Port.data() + uri.Port.size(), port);
    if (ec != std::errc() || end != uri.Port.data() + uri.Port.size() || port < 0 || port > kHighestPort)
        port = kDefaultHttpPort;
    return port;
}

int64_t parse_content_length(std::string_view text) {
    std::string t = trim(text);
    const char* b = t.data();
    if (!t.empty() && t[0] == '+') ++b;
    int64_t v = -1;
    auto [end, ec] = std::from_chars(b, t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size() || b == t.data() + t.size()) return -1;
    return v;
}

} // namespace

int ParseResponseCode(std::string_view line) {
    size_t space = line.find(' ');
    if (space == std::string_view::npos) return -1;
    std::string rest = trim(line.substr(space + 1));
    rest = rest.substr(0, rest.find(' '));
    rest = trim(rest.substr(0, rest.find('.')));
    const char* b = rest.data();
    if (!rest.empty() && rest[0] == '+') ++b;
    int v = -1;
    auto [end, ec] = std::from_chars(b, rest.data() + rest.size(), v);
    if (ec != std::errc() || end != rest.data() + rest.size() || b == rest.data() + rest.size()) return -1;
    return v;
}

void TNetHTTPResponse::Clear() {
    ResponseText.clear();
    ResponseCode = -1;
    ResponseVersion = TNetHTTPProtocolVersion::pv1_0;
    RawHeaders.Clear();
    MetaHTTPEquiv.Clear();
    ProcessHeaders();
}

void TNetHTTPResponse::SetResponseText(std::string text) {
    ResponseText = std::move(text);
    ResponseCode = ParseResponseCode(ResponseText);
    ResponseVersion = ResponseText.size() >= 8 && ResponseText.compare(5, 3, "1.1") == 0
                          ? TNetHTTPProtocolVersion::pv1_1
                          : TNetHTTPProtocolVersion::pv1_0;
}

void TNetHTTPResponse::ProcessHeaders() {
    Connection = RawHeaders.Values("Connection");
    ContentType = RawHeaders.Values("Content-Type");
    CharSet = content_type_param(ContentType, "charset");
    ContentEncoding = RawHeaders.Values("Content-Encoding");
    TransferEncoding = RawHeaders.Values("Transfer-Encoding");
    Location = RawHeaders.Values("Location");
    Server = RawHeaders.Values("Server");
    ProxyConnection = RawHeaders.Values("Proxy-Connection");
    std::string length = RawHeaders.Values("Content-Length");
    ContentLength = length.empty() ? -1 : parse_content_length(length);
}

TNetHTTP::TNetHTTP() = default;

TNetHTTP::~TNetHTTP() {
    if (FIOHandler) FIOHandler->Close();
}

void TNetHTTP::SetIOHandler(std::unique_ptr<TNetIOHandlerStack> handler) {
    if (FIOHandler) FIOHandler->WorkTarget = nullptr;
    FIOHandler = std::move(handler);
    if (FIOHandler) {
        FIOHandler->WorkTarget = this;
        FIOHandler->OnStatus = [this](TNetComponent*, TNetStatus s, const std::string& t) { DoStatus(s, t); };
    }
}

bool TNetHTTP::Connected() {
    return FIOHandler && FIOHandler->Connected();
}

void TNetHTTP::Disconnect() {
    if (!FIOHandler || !FIOHandler->Opened()) return;
    DoStatus(TNetStatus::hsDisconnecting, "Disconnecting.");
    FIOHandler->Close();
    DoStatus(TNetStatus::hsDisconnected, "Disconnected.");
}

void TNetHTTP::Connect() {
    if (FURI.Host.empty()) throw ENetHostRequired("A Host is required");
    if (FURI.Port.empty()) throw ENetPortRequired("A Port is required");
    if (same_text_ascii_fold(FURI.Protocol, "https")) {
        // No TLS handler is available: a plain handler cannot serve the
        // request, and making a TLS one fails for want of its library.
        if (FIOHandler) throw ENetIOHandlerPropInvalid("IOHandler value is not valid");
        throw ENetOSSLCouldNotLoadSSLLibrary("Could not load SSL library.");
    }
    bool created = !FIOHandler;
    if (created) SetIOHandler(std::make_unique<TNetIOHandlerStack>());
    FIOHandler->Host = FURI.Host;
    FIOHandler->Port = static_cast<uint16_t>(port_of(FURI));
    FIOHandler->IPVersion = FURI.IPVersion;
    FIOHandler->ReadTimeout = ReadTimeout;
    try {
        FIOHandler->Open();
    } catch (...) {
        FIOHandler->Close();
        if (created) SetIOHandler(nullptr);
        throw;
    }
    DoStatus(TNetStatus::hsConnected, "Connected.");
}

bool TNetHTTP::ComputeKeepAlive() {
    bool keep = Connected();
    if (keep && is_close_value(FRequest.Connection)) keep = false;
    if (keep) {
        if (ProtocolVersion == TNetHTTPProtocolVersion::pv1_1)
            keep = !is_close_value(FResponse.Connection);
        else
            keep = same_text_ascii_fold(trim(FResponse.Connection), "keep-alive");
    }
    FResponse.KeepAlive = keep;
    return keep;
}

void TNetHTTP::PrepareConnection() {
    if (FIOHandler) FIOHandler->InputBufferClear();
    const int port = port_of(FURI);
    bool tls = same_text_ascii_fold(FURI.Protocol, "https");
    if (FIOHandler && FIOHandler->Opened() &&
        (FIOHandler->IPVersion != FURI.IPVersion || !same_text_ascii_fold(FIOHandler->Host, FURI.Host) ||
         FIOHandler->Port != port || tls))
        Disconnect();
    if (!ComputeKeepAlive()) Disconnect();
    if (FIOHandler) {
        FIOHandler->InputBufferClear();
        FIOHandler->CheckForDisconnect(TNetIOHandlerStack::QuietIfDisconnected);
    }
    if (!Connected()) Connect();
}

void TNetHTTP::BuildAndSendRequest(const std::string& path) {
    FResponse.Clear();
    TNetHeaderList& h = FRequest.RawHeaders;
    h.Clear();
    std::string connection = FRequest.Connection;
    if (ProtocolVersion == TNetHTTPProtocolVersion::pv1_0 && connection.empty()) connection = "keep-alive";
    h.SetValue("Connection", connection);
    if (FRequest.ContentLength >= 0) h.SetValue("Content-Length", std::to_string(FRequest.ContentLength));
    for (const std::string& line : FRequest.CustomHeaders.Lines)
        h.Add(line);
    h.SetValue("Host", FRequest.Host);
    h.SetValue("Accept", FRequest.Accept);
    h.SetValue("Accept-Encoding", FRequest.AcceptEncoding);
    h.SetValue("User-Agent", FRequest.UserAgent);
    if (AllowCookies && FCookieManager)
        FCookieManager->GenerateClientCookies(FURI, same_text_ascii_fold(FURI.Protocol, "https"), h);

    TNetIOHandlerStack& io = *FIOHandler;
    io.WriteBufferOpen();
    try {
        io.WriteLn(FRequest.Method + " " + path +
                   (ProtocolVersion == TNetHTTPProtocolVersion::pv1_1 ? " HTTP/1.1" : " HTTP/1.0"));
        for (const std::string& line : h.Lines)
            io.WriteLn(line);
        io.WriteLn("");
        io.WriteBufferClose();
    } catch (...) {
        io.WriteBufferCancel();
        throw;
    }
}

std::string TNetHTTP::ReadLine() {
    std::string line = FIOHandler->ReadLn();
    if (FIOHandler->ReadLnTimedOut()) throw ENetReadTimeout("Read timed out.");
    return line;
}

void TNetHTTP::CountHeaderBytes(int64_t& section_bytes, const std::string& line) {
    section_bytes += static_cast<int64_t>(line.size()) + 2; // and its line end
    if (section_bytes > MaxHeaderBytes) throw ENetMalformedResponse("Response header section too large.");
}

void TNetHTTP::RetrieveHeaders(int AMaxHeaderCount) {
    try {
        // Lines beyond the limit are read and dropped so that the body starts
        // where it should; the bytes of the section are bounded all the same.
        // A close before the empty line that ends the section raises: the
        // response is cut, and what came of it must not pass for complete.
        int64_t bytes = 0;
        CountHeaderBytes(bytes, FResponse.ResponseText);
        for (int count = 0;; ++count) {
            std::string line = ReadLine();
            if (line.empty()) break;
            CountHeaderBytes(bytes, line);
            if (count < AMaxHeaderCount) FResponse.RawHeaders.Add(std::move(line));
        }
        FResponse.ProcessHeaders();
        // Differing lengths leave the body's end to a guess: whichever is taken,
        // a file could come out shorter than sent and look complete.
        std::vector<std::string> lengths = FResponse.RawHeaders.AllValues("Content-Length");
        for (const std::string& length : lengths)
            if (trim(length) != trim(lengths.front()))
                throw ENetMalformedResponse("Conflicting Content-Length fields.");
    } catch (...) {
        Disconnect();
        throw;
    }
}

void TNetHTTP::ReadStatusAndHeaders() {
    for (int interim = 0;; ++interim) {
        if (interim > MaxInterimResponses) {
            Disconnect();
            throw ENetMalformedResponse("Too many interim responses.");
        }
        std::string status;
        try {
            status = ReadLine();
        } catch (...) {
            Disconnect(); // an answer may still come, and would be taken for the next request's
            throw;
        }
        FResponse.SetResponseText(std::move(status));
        RetrieveHeaders(MaxHeaderLines);
        if (AllowCookies) {
            if (!FCookieManager) FCookieManager = std::make_unique<TNetCookieManager>();
            FCookieManager->AddServerCookies(FResponse.RawHeaders.AllValues("Set-Cookie"), FURI);
        }
        int code = FResponse.ResponseCode;
        if (code < 100 || code > 199 || code == 101) return;
        FResponse.Clear();
    }
}

// The error body is read to its end, so the connection can serve the next
// request, but only its head is kept for ErrorMessage.
void TNetHTTP::RaiseProtocolError(TStream* caller_stream) {
    TBodyHeadStream body(nullptr, kBodyHeadBytes);
    FResponse.ContentStream = &body;
    try {
        ReadResult();
    } catch (const ENetConnClosedGracefully&) {
        Disconnect();
    } catch (...) {
        FResponse.ContentStream = caller_stream;
        Disconnect();
        throw;
    }
    FResponse.ContentStream = caller_stream;
    throw ENetHTTPProtocolException(FResponse.ResponseText, FResponse.ResponseCode,
                                    body_text(body.Head(), FResponse.CharSet));
}

void TNetHTTP::ProcessResponse(TStream* caller_stream) {
    int code = FResponse.ResponseCode;
    if (code == 101) return;
    if (code >= 200 && code <= 299) {
        try {
            if (OnResponseHead) OnResponseHead(FResponse);
            if (MaxBodyBytes >= 0 && FResponse.HasContentLength() && FResponse.ContentLength > MaxBodyBytes &&
                ascii_lower(FResponse.TransferEncoding).find("chunked") == std::string::npos)
                throw ENetBodyLengthRefused("Content-Length " + std::to_string(FResponse.ContentLength) +
                                            " is more than the expected " + std::to_string(MaxBodyBytes) +
                                            " bytes.");
            ReadResult();
        } catch (...) {
            // Unread body bytes may remain: the connection cannot serve another request.
            FIOHandler->InputBufferClear();
            Disconnect();
            throw;
        }
        return;
    }
    RaiseProtocolError(caller_stream);
}

void TNetHTTP::Get(const std::string& AURL, TStream* AResponseContent) {
    FRequest.URL = AURL;
    FRequest.Method = "GET";
    FResponse.ContentStream = AResponseContent;
    in_any_case(
        [&] {
            std::string path = ResolveTarget(FURI, TNetURI::Parse(AURL));
            FRequest.ContentLength = -1;
            FRequest.Host = HostHeaderValue(FURI);
            PrepareConnection();
            BuildAndSendRequest(path);
            ReadStatusAndHeaders();
            ProcessResponse(AResponseContent);
        },
        [&] {
            if (!ComputeKeepAlive()) Disconnect();
        });
}

} // namespace kv
