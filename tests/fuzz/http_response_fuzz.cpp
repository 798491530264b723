// libFuzzer target: server bytes through the response reading of TNetHTTP
// (status line, header lines, framing, cookies) over an in-memory
// connection. Every input must end in a complete body or an error, never in
// a shorter body reported complete. Two kinds of input, by the first byte:
//  - raw bytes, two requests per input (leftovers and the keep-alive path);
//    a success with a Content-Length must have written exactly that many;
//  - a body the fuzzer chooses, framed by Content-Length or by chunks of
//    sizes it chooses, then cut and garbled where it chooses; a success must
//    have written exactly that body.
// Body bytes go to a stream that keeps at most the input's size.
//
// Build and run from the source tree:
//   clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -Isrc \
//     tests/fuzz/http_response_fuzz.cpp src/http/*.cpp src/rtl/*.cpp src/platform/*.cpp \
//     src/platform/linux/*.cpp -ldl -o http_response_fuzz
//   ./http_response_fuzz -max_len=4096 -max_total_time=300
#include "http/net_exceptions.h"
#include "http/net_http.h"
#include "rtl/stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

class MemoryConnection : public kv::TNetIOHandlerStack {
public:
    MemoryConnection(const uint8_t* data, size_t size) : FData(data), FSize(size) {}

protected:
    void ConnectSocket() override { FSocketAllocated = true; }
    int SocketWaitReadable(int, uint32_t&) override { return 1; }
    uint32_t SocketSetReceiveTimeout(int) override { return 0; }
    int64_t SocketRecv(char* buffer, size_t count, uint32_t&) override {
        // Pieces of varying size, so lines and chunks break across receives.
        size_t n = std::min({count, FSize - FPos, size_t(1) + (FPos * 7919) % 61});
        std::memcpy(buffer, FData + FPos, n);
        FPos += n;
        return static_cast<int64_t>(n);
    }
    int64_t SocketSend(const char*, size_t count, uint32_t&) override { return static_cast<int64_t>(count); }
    void SocketClose() noexcept override {}

private:
    const uint8_t* FData;
    size_t FSize, FPos = 0;
};

// Keeps what is written at its position (bounded by the input's size).
class KeepingStream : public kv::TStream {
public:
    explicit KeepingStream(size_t limit) : FLimit(limit) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        if (FPos + count > static_cast<int64_t>(FLimit)) __builtin_trap(); // more body than input
        if (FData.size() < static_cast<size_t>(FPos + count)) FData.resize(static_cast<size_t>(FPos + count));
        std::memcpy(FData.data() + FPos, buffer, static_cast<size_t>(count));
        FPos += count;
        return count;
    }
    int64_t Seek(int64_t offset, kv::TSeekOrigin origin) override {
        FPos = origin == kv::TSeekOrigin::soBeginning ? offset
               : origin == kv::TSeekOrigin::soCurrent ? FPos + offset
                                                      : static_cast<int64_t>(FData.size()) + offset;
        return FPos;
    }
    // A size announced ahead is the peer's word: only what was written counts.
    void SetSize(int64_t size) override {
        if (size < static_cast<int64_t>(FData.size())) FData.resize(static_cast<size_t>(size));
    }
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    const std::string& Data() const { return FData; }

private:
    size_t FLimit;
    std::string FData;
    int64_t FPos = 0;
};

bool get(kv::TNetHTTP& http, const char* url, kv::TStream& body) {
    try {
        http.Get(url, &body);
        return true;
    } catch (const kv::Exception&) {
        return false;
    }
}

void raw_response(const uint8_t* data, size_t size) {
    kv::TNetHTTP http;
    http.SetIOHandler(std::make_unique<MemoryConnection>(data, size));
    for (const char* url : {"http://10.0.0.1/2027/kuvento.rar", "dll.rar"}) {
        KeepingStream body(size);
        if (!get(http, url, body)) continue;
        const kv::TNetHTTPResponse& r = http.Response();
        const bool chunked = r.TransferEncoding.find("chunked") != std::string::npos;
        if (r.HasContentLength() && !chunked && r.ResponseCode >= 200 && r.ResponseCode <= 299 &&
            r.ResponseCode != 204 && static_cast<int64_t>(body.Data().size()) != r.ContentLength)
            __builtin_trap(); // reported complete with another length than announced
    }
}

// Input: mode byte, framing byte, two bytes of cut position, one byte of
// garbling, then the body; chunk sizes are taken from the body's own bytes.
void framed_response(const uint8_t* data, size_t size) {
    if (size < 5) return;
    const bool chunked = data[1] & 1;
    const size_t cut = size_t(data[2]) << 8 | data[3];
    const uint8_t garble = data[4];
    const std::string body(reinterpret_cast<const char*>(data) + 5, size - 5);
    std::string wire = "HTTP/1.1 200 OK\r\n";
    if (chunked) {
        wire += "Transfer-Encoding: chunked\r\n\r\n";
        for (size_t at = 0; at < body.size();) {
            size_t n = std::min(body.size() - at, size_t(1) + static_cast<uint8_t>(body[at]) % 40);
            char hex[16];
            std::snprintf(hex, sizeof hex, "%zx\r\n", n);
            wire += hex + body.substr(at, n) + "\r\n";
            at += n;
        }
        wire += "0\r\n\r\n";
    } else {
        wire += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    if (cut < wire.size()) wire.resize(cut);
    if (garble && !wire.empty()) wire[garble % wire.size()] ^= static_cast<char>(garble);

    kv::TNetHTTP http;
    http.SetIOHandler(
        std::make_unique<MemoryConnection>(reinterpret_cast<const uint8_t*>(wire.data()), wire.size()));
    KeepingStream received(wire.size());
    if (!get(http, "http://10.0.0.1/2027/kuvento.rar", received)) return;
    // Garbling can make another valid response (a different length, say);
    // a cut alone never may.
    if (!garble && received.Data() != body) __builtin_trap();
    if (garble && http.Response().HasContentLength() &&
        static_cast<int64_t>(received.Data().size()) != http.Response().ContentLength &&
        http.Response().TransferEncoding.find("chunked") == std::string::npos)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && data[0] == 'F')
        framed_response(data, size);
    else
        raw_response(data, size);
    return 0;
}
