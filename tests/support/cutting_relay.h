// A relay on loopback that cuts the line: it forwards each connection to a
// server (nginx, in the tests) and closes connection i both ways once cuts[i]
// bytes of the server's answers have passed; later connections pass whole.
// It serves one connection at a time, as a download uses one, and calls
// on_cut after each cut, before it takes the next connection: a test can
// change the served file there, between one try and the next, without a race.
// Linux only (the tests that drive the Windows build under Wine run it from
// the Linux side).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kv::test {

class CuttingRelay {
public:
    // Raises std::runtime_error when it cannot listen.
    CuttingRelay(uint16_t upstream, std::vector<size_t> cuts, std::function<void()> on_cut = {});
    ~CuttingRelay();
    CuttingRelay(const CuttingRelay&) = delete;
    CuttingRelay& operator=(const CuttingRelay&) = delete;

    std::string url(const std::string& path) const;

private:
    void run();

    uint16_t FUpstream, FPort = 0;
    std::vector<size_t> FCuts;
    std::function<void()> FOnCut;
    int FListen = -1;
    std::thread FThread;
};

} // namespace kv::test
