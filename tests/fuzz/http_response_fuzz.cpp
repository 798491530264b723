// libFuzzer target: arbitrary server bytes through the response reading of
// TNetHTTP (status line, header lines, framing, cookies) over an in-memory
// connection. Two requests run per input, so leftovers and the keep-alive
// path are exercised too. Body bytes go to a stream that only counts them,
// so memory stays bounded by the input.
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
#include <cstring>
#include <memory>

namespace {

class MemoryConnection : public kv::TNetIOHandlerStack {
public:
    MemoryConnection(const uint8_t* data, size_t size) : FData(data), FSize(size) {}

protected:
    void ConnectSocket() override { FSocketAllocated = true; }
    int SocketWaitReadable(int, uint32_t&) override { return 1; }
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

// Keeps position and size, stores nothing.
class CountingStream : public kv::TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t count) override {
        FPos += count;
        FSize = std::max(FSize, FPos);
        return count;
    }
    int64_t Seek(int64_t offset, kv::TSeekOrigin origin) override {
        FPos = origin == kv::TSeekOrigin::soBeginning ? offset
               : origin == kv::TSeekOrigin::soCurrent ? FPos + offset
                                                      : FSize + offset;
        return FPos;
    }
    void SetSize(int64_t size) override { FSize = size; }
    int64_t Size() override { return FSize; }

private:
    int64_t FPos = 0, FSize = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::TNetHTTP http;
    http.SetIOHandler(std::make_unique<MemoryConnection>(data, size));
    for (const char* url : {"http://10.0.0.1/2027/kuvento.rar", "dll.rar"}) {
        CountingStream body;
        try {
            http.Get(url, &body);
        } catch (const kv::Exception&) {
        }
    }
    return 0;
}
