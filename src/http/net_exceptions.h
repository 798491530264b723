// The errors of the HTTP client. Their messages are the texts an operator
// reads in the error box, identical on every target.
#pragma once

#include "rtl/exception.h"

#include <cstdint>
#include <string>

namespace kv {

KV_EXCEPTION(ENetException, Exception);
KV_EXCEPTION(ENetSilentException, ENetException);
KV_EXCEPTION(ENetConnClosedGracefully, ENetSilentException);
KV_EXCEPTION(ENetUnknownProtocol, ENetException);
KV_EXCEPTION(ENetHostRequired, ENetException);
KV_EXCEPTION(ENetPortRequired, ENetException);
KV_EXCEPTION(ENetAlreadyConnected, ENetException);
KV_EXCEPTION(ENetNotConnected, ENetException);
KV_EXCEPTION(ENetConnectTimeout, ENetException);
KV_EXCEPTION(ENetReadTimeout, ENetException);
KV_EXCEPTION(ENetReadLnMaxLineLengthExceeded, ENetException);
KV_EXCEPTION(ENetIOHandlerStreamDataTooLarge, ENetException);
KV_EXCEPTION(ENetIOHandlerPropInvalid, ENetException);
KV_EXCEPTION(ENetOSSLCouldNotLoadSSLLibrary, ENetException);
KV_EXCEPTION(ENetWinsockStubError, ENetException);
// A chunk-size line that is no hexadecimal size or does not fit the 32-bit
// signed chunk size.
KV_EXCEPTION(ENetMalformedChunk, ENetException);
// A response whose head cannot be trusted to frame its body: differing
// Content-Length fields, a header section or a run of interim responses
// beyond the client's bounds.
KV_EXCEPTION(ENetMalformedResponse, ENetException);
// A success body the caller bounded (TNetHTTP::MaxBodyBytes, or the size a
// download must have) that is longer, or announces another length.
KV_EXCEPTION(ENetBodyLengthRefused, ENetException);
// A partial (206) answer to a resumed download that does not continue the
// file where it was cut, or one that was not asked for.
KV_EXCEPTION(ENetResumeMismatch, ENetException);

// A failure reported by the socket layer; LastError() is the WinSock code.
class ENetSocketError : public ENetException {
public:
    ENetSocketError(std::string message, uint32_t code)
        : ENetException(std::move(message)), FLastError(code) {}
    const char* ClassName() const noexcept override { return "ENetSocketError"; }
    uint32_t LastError() const noexcept { return FLastError; }

private:
    uint32_t FLastError;
};
KV_EXCEPTION(ENetNotASocket, ENetSocketError);

KV_EXCEPTION(ENetReplyError, ENetException);
KV_EXCEPTION(ENetReplyRFCError, ENetReplyError);

// An error status: the message is the status line, ErrorCode() the status
// code, ErrorMessage() the body of the response as text.
class ENetHTTPProtocolException : public ENetReplyRFCError {
public:
    ENetHTTPProtocolException(std::string message, int code, std::string body)
        : ENetReplyRFCError(std::move(message)), FErrorCode(code), FErrorMessage(std::move(body)) {}
    const char* ClassName() const noexcept override { return "ENetHTTPProtocolException"; }
    int ErrorCode() const noexcept { return FErrorCode; }
    const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

private:
    int FErrorCode;
    std::string FErrorMessage;
};

// "Socket Error # <code>" CR LF and the text of the code (empty when unlisted).
std::string WSTranslateSocketErrorMsg(uint32_t code);
// Raises ENetNotASocket for 10038, ENetSocketError for every other code.
[[noreturn]] void RaiseSocketError(uint32_t code);

} // namespace kv
