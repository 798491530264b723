// TNetIOHandlerStack: the connection handler of the HTTP client. It owns one
// TCP socket, keeps what was received in an input buffer and collects what is
// to be sent in a write buffer. Reading operations take bytes off the head of
// the input buffer and report each removal as DoWork(wmRead, n), in steps of
// at most 32768 bytes; receiving into the buffer reports nothing. One receive
// asks for at most 32768 bytes, and body bytes go from the buffer straight
// into the target stream, a receive at a time.
//
// The wait of a receive under the handler's own time limit is bounded by the
// socket's receive time limit, so that a receive is one call and not a
// readiness test and a call (under Wine each call is also a round trip to its
// server).
#pragma once

#include "http/net_component.h"
#include "http/socket_layer.h"
#include "platform/sockets.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

class TStream;

class TNetIOHandlerStack : public TNetComponent {
public:
    static constexpr size_t RecvBufferSize = 32768;
    static constexpr size_t WorkStep = 32768; // the most bytes one DoWork reports
    static constexpr size_t MaxLineLength = 16384;
    // The floor under the rate: fewer bytes than this within ReadTimeout is a
    // stall, as silence is, so that a trickle cannot hold a read for ever.
    static constexpr int64_t StallFloorBytes = 1024;

    // Words for the flags and limits of the calls below.
    static constexpr bool RaiseIfDisconnected = true, QuietIfDisconnected = false;
    static constexpr bool IgnoreBuffer = true, HonourBuffer = false;      // CheckForDisconnect
    static constexpr bool RaiseOnTimeout = true, ReturnOnTimeout = false; // ReadFromSource
    static constexpr int UseReadTimeout = -1; // ReadFromSource's limit: the handler's ReadTimeout
    static constexpr int NoTimeLimit = -2;    // ReadFromSource's limit: none

    TNetIOHandlerStack();
    ~TNetIOHandlerStack() override;
    TNetIOHandlerStack(const TNetIOHandlerStack&) = delete;
    TNetIOHandlerStack& operator=(const TNetIOHandlerStack&) = delete;

    // Set by the component before Open.
    std::string Host;
    uint16_t Port = 0;
    int IPVersion = 4;
    // ms; -1 or 0: no limit. A receive under this limit ends with "Read timed
    // out." after ReadTimeout of silence, and also once a span of ReadTimeout
    // since the request was sent (or since StallFloorBytes last arrived) has
    // brought fewer than StallFloorBytes.
    int ReadTimeout = -1;

    // Resets the handler and connects (resolving the host when it is a name).
    void Open();
    // Shuts the socket down for sending, closes it and drops the write buffer.
    void Close();
    bool Opened() const noexcept { return FOpened; }
    bool ClosedGracefully() const noexcept { return FClosedGracefully; }
    bool ReadLnTimedOut() const noexcept { return FReadLnTimedOut; }
    std::string PeerAddress() const { return FPeerAddress; }

    // Moves waiting bytes in and notices an arrived close without raising.
    bool Connected();
    void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = RaiseIfDisconnected,
                            bool AIgnoreBuffer = HonourBuffer);
    // True when bytes are buffered or arrive within timeout_ms.
    bool CheckForDataOnSource(int timeout_ms);

    // One receive step. timeout_ms: a limit of the caller's own (0 or more),
    // UseReadTimeout or NoTimeLimit. Returns the bytes appended, or -1 when
    // the limit passed (unless raised).
    int64_t ReadFromSource(bool ARaiseExceptionIfDisconnected, int timeout_ms = UseReadTimeout,
                           bool ARaiseOnTimeout = RaiseOnTimeout);

    std::string ReadLn();
    std::string ReadBytes(int64_t count);
    // count < 0 or AReadUntilDisconnect: everything until the peer closes.
    void ReadStream(TStream* AStream, int64_t AByteCount, bool AReadUntilDisconnect = false);
    // Writes everything up to and including the first occurrence of marker;
    // false when the peer closed first (everything received is then written).
    bool ReadStreamUntil(TStream* AStream, std::string_view marker);
    void Discard(int64_t count);
    void DiscardAll();

    bool InputBufferIsEmpty() const noexcept { return FHead == FSize; }
    void InputBufferClear() noexcept { FHead = FSize = 0; }
    size_t InputBufferSize() const noexcept { return FSize - FHead; }

    void WriteBufferOpen();
    void WriteBufferClose();
    void WriteBufferCancel() noexcept { FWriteBuffer.reset(); }
    void WriteLn(std::string_view text);
    void Write(std::string_view bytes);
    void WriteDirect(const char* data, size_t count);

protected:
    // The socket underneath, replaceable so the response reading can be fed
    // from memory (the fuzz target does). Results as in platform/sockets.h.
    virtual void ConnectSocket();
    virtual int SocketWaitReadable(int timeout_ms, uint32_t& error);
    virtual uint32_t SocketSetReceiveTimeout(int timeout_ms);
    virtual int64_t SocketRecv(char* buffer, size_t count, uint32_t& error);
    virtual int64_t SocketSend(const char* data, size_t count, uint32_t& error);
    virtual void SocketClose() noexcept;
    // Set once ConnectSocket has a socket, so that Close releases it.
    bool FSocketAllocated = false;

    // How the three states go together: FOpened is set by Open and cleared by
    // Close, and a socket is only allocated while the handler is open.
    // FClosedGracefully marks a connection the peer closed (or that broke):
    // from then on it stays set until the next Open, and the socket is closed
    // at the next CheckForDisconnect, if not at once. So once the peer is
    // gone or there is no socket, nothing more can arrive: what the buffer
    // holds is all there is.
    bool SourceClosed() const noexcept { return FClosedGracefully || !FSocketAllocated; }

private:
    const char* Head() const noexcept { return FBuffer.get() + FHead; }
    // One receive step that raises every failure, except that with
    // until_close the orderly close just yields 0.
    int64_t ReceiveUntilClose(bool until_close);
    void Remove(size_t count);
    void ExtractToStream(TStream* AStream, size_t count);
    void Reserve(size_t extra);
    void CloseSocket() noexcept;
    [[noreturn]] void RaiseClosed();
    // Counts received bytes against the rate floor; true when the span ended short.
    bool StalledAfter(int64_t received);
    void RestartStallSpan();

    os::SocketHandle FSocket = os::kInvalidSocket;
    std::unique_ptr<char[]> FBuffer;
    size_t FCapacity = 0, FHead = 0, FSize = 0;
    std::optional<std::string> FWriteBuffer;
    std::string FPeerAddress;
    int FReceiveTimeout = 0; // the socket's receive time limit (ms, 0 none) as last set
    bool FOpened = false;
    bool FClosedGracefully = false;
    bool FReadLnTimedOut = false;
    std::chrono::steady_clock::time_point FSpanStart;
    int64_t FSpanBytes = 0;
    bool FStalled = false; // raised at the next receive, once what arrived has been taken
};

} // namespace kv
