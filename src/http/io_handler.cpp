// The connection handler (see io_handler.h).
#include "http/io_handler.h"

#include "http/net_exceptions.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"
#include "rtl/text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kv {
namespace {

// 7-bit ASCII: bytes above 127 become U+FFFD.
std::string decode_ascii(const char* p, size_t n) {
    std::string s;
    s.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) > 127)
            s += "\xEF\xBF\xBD";
        else
            s += p[i];
    }
    return s;
}

bool is_abort_code(uint32_t code) {
    return code == os::kSocketAborted || code == os::kSocketReset || code == os::kSocketShutDown;
}

} // namespace

TNetIOHandlerStack::TNetIOHandlerStack() {
    IncUsage();
}

TNetIOHandlerStack::~TNetIOHandlerStack() {
    CloseSocket();
    DecUsage();
}

void TNetIOHandlerStack::Open() {
    FClosedGracefully = false;
    FReadLnTimedOut = false;
    FWriteBuffer.reset();
    InputBufferClear();
    CloseSocket();
    FOpened = true;
    FReceiveTimeout = 0; // a new socket's receives wait without limit
    RestartStallSpan();
    ConnectSocket();
}

void TNetIOHandlerStack::RestartStallSpan() {
    FSpanStart = std::chrono::steady_clock::now();
    FSpanBytes = 0;
    FStalled = false;
}

// The socket's limit bounds silence; this bounds a trickle with no extra call
// per receive: a span that brings StallFloorBytes starts the next, and one
// that lasted ReadTimeout without them is a stall. So a trickle ends between
// one and two ReadTimeouts after the last span that met the floor.
bool TNetIOHandlerStack::StalledAfter(int64_t received) {
    FSpanBytes += received;
    const auto now = std::chrono::steady_clock::now();
    if (FSpanBytes >= StallFloorBytes) {
        FSpanStart = now;
        FSpanBytes = 0;
        return false;
    }
    return ReadTimeout > 0 && now - FSpanStart >= std::chrono::milliseconds(ReadTimeout);
}

void TNetIOHandlerStack::ConnectSocket() {
    std::string address = Host;
    if (!(IPVersion == 4 && IsIP(Host))) {
        if (!same_text_ascii_fold(Host, "localhost"))
            DoStatus(TNetStatus::hsResolving, "Resolving hostname " + Host + ".");
        address = ResolveHost(Host, IPVersion);
    }
    uint32_t error = 0;
    FSocket = os::socket_open(IPVersion, error);
    if (FSocket == os::kInvalidSocket) RaiseSocketError(error);
    FSocketAllocated = true;
    FPeerAddress = address;
    DoStatus(TNetStatus::hsConnecting, "Connecting to " + address + ".");
    if (uint32_t code = os::socket_connect(FSocket, address, Port, IPVersion)) RaiseSocketError(code);
}

int TNetIOHandlerStack::SocketWaitReadable(int timeout_ms, uint32_t& error) {
    return os::socket_wait_readable(FSocket, timeout_ms, error);
}

uint32_t TNetIOHandlerStack::SocketSetReceiveTimeout(int timeout_ms) {
    return os::socket_set_receive_timeout(FSocket, timeout_ms);
}

int64_t TNetIOHandlerStack::SocketRecv(char* buffer, size_t count, uint32_t& error) {
    return os::socket_recv(FSocket, buffer, count, error);
}

int64_t TNetIOHandlerStack::SocketSend(const char* data, size_t count, uint32_t& error) {
    return os::socket_send(FSocket, data, count, error);
}

void TNetIOHandlerStack::SocketClose() noexcept {
    os::socket_shutdown_send(FSocket);
    os::socket_close(FSocket);
    FSocket = os::kInvalidSocket;
}

void TNetIOHandlerStack::CloseSocket() noexcept {
    if (!FSocketAllocated) return;
    SocketClose();
    FSocketAllocated = false;
}

void TNetIOHandlerStack::Close() {
    CloseSocket();
    FOpened = false;
    FWriteBuffer.reset();
}

void TNetIOHandlerStack::RaiseClosed() {
    throw ENetConnClosedGracefully("Connection Closed Gracefully.");
}

void TNetIOHandlerStack::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
    if (FClosedGracefully && FSocketAllocated) CloseSocket();
    bool closed = FClosedGracefully || !FOpened;
    if (closed && (InputBufferIsEmpty() || AIgnoreBuffer) && ARaiseExceptionIfDisconnected) RaiseClosed();
}

bool TNetIOHandlerStack::Connected() {
    if (FOpened && !SourceClosed()) {
        try {
            ReadFromSource(QuietIfDisconnected, 0, ReturnOnTimeout);
        } catch (const ENetSocketError& e) {
            if (is_abort_code(e.LastError())) return false;
            throw;
        }
    }
    return (FOpened && !SourceClosed()) || !InputBufferIsEmpty();
}

bool TNetIOHandlerStack::CheckForDataOnSource(int timeout_ms) {
    if (!InputBufferIsEmpty()) return true;
    if (SourceClosed()) return false;
    ReadFromSource(QuietIfDisconnected, timeout_ms, ReturnOnTimeout);
    return !InputBufferIsEmpty();
}

void TNetIOHandlerStack::Reserve(size_t extra) {
    if (FHead == FSize) FHead = FSize = 0;
    if (FSize + extra <= FCapacity) return;
    size_t live = FSize - FHead;
    if (live + extra <= FCapacity) {
        std::memmove(FBuffer.get(), Head(), live);
    } else {
        size_t cap = std::max(FCapacity * 2, live + extra);
        auto grown = std::make_unique<char[]>(cap);
        if (live) std::memcpy(grown.get(), Head(), live);
        FBuffer = std::move(grown);
        FCapacity = cap;
    }
    FHead = 0;
    FSize = live;
}

int64_t TNetIOHandlerStack::ReadFromSource(bool ARaiseExceptionIfDisconnected, int timeout_ms,
                                           bool ARaiseOnTimeout) {
    if (!FOpened || !FSocketAllocated) {
        if (FClosedGracefully || !FOpened) CheckForDisconnect(ARaiseExceptionIfDisconnected);
        if (ARaiseExceptionIfDisconnected) throw ENetNotConnected("Not Connected");
        return 0;
    }
    if (FClosedGracefully) {
        CheckForDisconnect(ARaiseExceptionIfDisconnected);
        return 0;
    }
    uint32_t error = 0;
    if (timeout_ms >= 0) {
        // A limit of the caller's own: wait for readiness, then the receive does not wait.
        int ready = SocketWaitReadable(timeout_ms, error);
        if (ready < 0) RaiseSocketError(error);
        if (ready == 0) {
            if (ARaiseOnTimeout) throw ENetReadTimeout("Read timed out.");
            return -1;
        }
    } else {
        if (timeout_ms == -1 && FStalled) {
            FStalled = false;
            if (ARaiseOnTimeout) throw ENetReadTimeout("Read timed out.");
            return -1;
        }
        // The handler's limit (or none) is the socket's: the receive waits and
        // gives up by itself, so the usual receive costs one call.
        const int limit = timeout_ms == UseReadTimeout && ReadTimeout > 0 ? ReadTimeout : 0;
        if (limit != FReceiveTimeout) {
            if (uint32_t code = SocketSetReceiveTimeout(limit)) RaiseSocketError(code);
            FReceiveTimeout = limit;
        }
    }
    Reserve(RecvBufferSize);
    int64_t n = SocketRecv(FBuffer.get() + FSize, RecvBufferSize, error);
    if (n < 0) {
        if (error == os::kSocketTimedOut) {
            if (ARaiseOnTimeout) throw ENetReadTimeout("Read timed out.");
            return -1;
        }
        if (!is_abort_code(error)) RaiseSocketError(error);
        FClosedGracefully = true;
        CloseSocket();
        if (InputBufferIsEmpty() && ARaiseExceptionIfDisconnected) RaiseSocketError(error);
        return 0;
    }
    FSize += static_cast<size_t>(n);
    if (StalledAfter(n) && timeout_ms == -1 && n > 0) FStalled = true;
    if (n == 0) FClosedGracefully = true;
    if (FClosedGracefully) CheckForDisconnect(ARaiseExceptionIfDisconnected);
    return n;
}

int64_t TNetIOHandlerStack::ReceiveUntilClose(bool until_close) {
    if (!until_close) return ReadFromSource(RaiseIfDisconnected);
    // The orderly close ends such a body; a reset or another failure must not
    // make a cut body look complete, so it raises.
    try {
        return ReadFromSource(RaiseIfDisconnected);
    } catch (const ENetConnClosedGracefully&) {
        return 0;
    }
}

void TNetIOHandlerStack::Remove(size_t count) {
    while (count) {
        const size_t step = std::min(count, WorkStep);
        FHead += step;
        count -= step;
        DoWork(TWorkMode::wmRead, static_cast<int64_t>(step));
    }
}

void TNetIOHandlerStack::ExtractToStream(TStream* AStream, size_t count) {
    if (!count) return;
    if (AStream) AStream->WriteBuffer(Head(), static_cast<int64_t>(count));
    Remove(count);
}

std::string TNetIOHandlerStack::ReadLn() {
    FReadLnTimedOut = false;
    size_t scanned = 0;
    for (;;) {
        size_t avail = InputBufferSize();
        const char* lf = avail > scanned
                             ? static_cast<const char*>(std::memchr(Head() + scanned, '\n', avail - scanned))
                             : nullptr;
        if (lf) {
            size_t len = static_cast<size_t>(lf - Head());
            if (len > MaxLineLength) throw ENetReadLnMaxLineLengthExceeded("Max line length exceeded.");
            size_t text_len = len > 0 && Head()[len - 1] == '\r' ? len - 1 : len;
            std::string line = decode_ascii(Head(), text_len);
            Remove(len + 1);
            return line;
        }
        if (avail > MaxLineLength) throw ENetReadLnMaxLineLengthExceeded("Max line length exceeded.");
        scanned = avail;
        // A close before the line end: the partial line is no line.
        if (SourceClosed()) CheckForDisconnect(RaiseIfDisconnected, IgnoreBuffer);
        if (ReadFromSource(RaiseIfDisconnected, UseReadTimeout, ReturnOnTimeout) < 0) {
            FReadLnTimedOut = true;
            return {};
        }
    }
}

std::string TNetIOHandlerStack::ReadBytes(int64_t count) {
    while (static_cast<int64_t>(InputBufferSize()) < count) {
        if (SourceClosed()) CheckForDisconnect(RaiseIfDisconnected, IgnoreBuffer);
        ReadFromSource(RaiseIfDisconnected);
    }
    std::string bytes(Head(), static_cast<size_t>(count));
    Remove(static_cast<size_t>(count));
    return bytes;
}

void TNetIOHandlerStack::ReadStream(TStream* AStream, int64_t AByteCount, bool AReadUntilDisconnect) {
    bool until_close = AReadUntilDisconnect || AByteCount < 0;
    if (!until_close && AStream) {
        int64_t pos = AStream->Position();
        if (AByteCount > std::numeric_limits<int64_t>::max() - pos)
            throw ENetIOHandlerStreamDataTooLarge("Data is too large for stream");
        // A file reaches its final size at once. A memory stream is not sized
        // ahead: the announced length is the peer's word, not bytes that arrived.
        if (!dynamic_cast<TMemoryStream*>(AStream)) {
            AStream->SetSize(pos + AByteCount);
            AStream->SetPosition(pos);
        }
    }
    BeginWork(TWorkMode::wmRead, until_close ? 0 : AByteCount);
    in_any_case(
        [&] {
            int64_t left = AByteCount;
            auto drain = [&] {
                size_t n = InputBufferSize();
                if (!until_close) n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(n)));
                ExtractToStream(AStream, n);
                left -= static_cast<int64_t>(n);
            };
            drain();
            while (until_close || left > 0) {
                if (until_close && SourceClosed()) break;
                if (ReceiveUntilClose(until_close) <= 0 && InputBufferIsEmpty()) break;
                drain();
            }
        },
        [&] {
            EndWork(TWorkMode::wmRead);
            if (AStream && AStream->Size() > AStream->Position()) AStream->SetSize(AStream->Position());
        });
}

bool TNetIOHandlerStack::ReadStreamUntil(TStream* AStream, std::string_view marker) {
    for (;;) {
        std::string_view avail(Head(), InputBufferSize());
        size_t at = avail.find(marker);
        if (at != std::string_view::npos) {
            ExtractToStream(AStream, at + marker.size());
            return true;
        }
        // Keep the tail that could still be the start of the marker.
        size_t keep = std::min(avail.size(), marker.size() - 1);
        ExtractToStream(AStream, avail.size() - keep);
        if (SourceClosed()) {
            ExtractToStream(AStream, InputBufferSize());
            return false;
        }
        ReceiveUntilClose(true);
    }
}

void TNetIOHandlerStack::Discard(int64_t count) {
    BeginWork(TWorkMode::wmRead, count);
    in_any_case(
        [&] {
            while (count > 0) {
                if (InputBufferIsEmpty()) {
                    if (SourceClosed()) CheckForDisconnect(RaiseIfDisconnected, IgnoreBuffer);
                    ReadFromSource(RaiseIfDisconnected);
                }
                size_t n =
                    static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(InputBufferSize())));
                Remove(n);
                count -= static_cast<int64_t>(n);
            }
        },
        [&] { EndWork(TWorkMode::wmRead); });
}

void TNetIOHandlerStack::DiscardAll() {
    BeginWork(TWorkMode::wmRead);
    in_any_case(
        [&] {
            for (;;) {
                InputBufferClear();
                if (SourceClosed()) break;
                ReadFromSource(QuietIfDisconnected);
            }
            InputBufferClear();
        },
        [&] { EndWork(TWorkMode::wmRead); });
}

void TNetIOHandlerStack::WriteBufferOpen() {
    FWriteBuffer.emplace();
}

void TNetIOHandlerStack::WriteBufferClose() {
    if (!FWriteBuffer) return;
    std::string bytes = std::move(*FWriteBuffer);
    FWriteBuffer.reset();
    WriteDirect(bytes.data(), bytes.size());
}

void TNetIOHandlerStack::WriteLn(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() + 2);
    // 7-bit ASCII: each character above 127 goes out as "?" (a UTF-8 sequence is one character).
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 128) {
            bytes += static_cast<char>(c);
        } else if ((c & 0xC0) != 0x80) {
            bytes += '?';
            if (c >= 0xF0) bytes += '?'; // outside the BMP: two UTF-16 code units
        }
    }
    bytes += "\r\n";
    Write(bytes);
}

void TNetIOHandlerStack::Write(std::string_view bytes) {
    if (FWriteBuffer)
        FWriteBuffer->append(bytes);
    else
        WriteDirect(bytes.data(), bytes.size());
}

void TNetIOHandlerStack::WriteDirect(const char* data, size_t count) {
    if (FClosedGracefully) RaiseClosed();
    if (!FOpened || !FSocketAllocated) throw ENetNotConnected("Not Connected");
    RestartStallSpan(); // the answer's time starts with the request
    size_t sent = 0;
    while (sent < count) {
        uint32_t error = 0;
        int64_t n = SocketSend(data + sent, count - sent, error);
        if (n < 0) {
            if (error != os::kSocketTimedOut) {
                FClosedGracefully = true;
                Close();
            }
            RaiseSocketError(error);
        }
        if (n == 0) {
            FClosedGracefully = true;
            CheckForDisconnect(RaiseIfDisconnected, HonourBuffer);
        }
        sent += static_cast<size_t>(n);
        DoWork(TWorkMode::wmWrite, n);
    }
}

} // namespace kv
