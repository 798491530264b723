// A private nginx for tests: serves a folder on a free loopback port, with its
// own configuration, logs and temporary files in a folder of its own, and
// stops when the object goes. Its access log records the connection serial
// number of every request, so tests can count connections, and what the
// request asked of a resume and what nginx answered.
//
// Its folder holds the master's pid file (nginx.pid) and the name of the test
// that started it (test). It lies under KV_TEST_PEERS when the run names that
// folder (scripts/test does, and stops by pid any server still up at its end)
// and under the temporary folder otherwise. The folder goes with the server.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kv::test {

// A request as nginx logged it: its connection's serial number, the status
// sent, the Range and If-Range headers asked ("-" when absent) and the ETag
// answered.
struct NginxRequest {
    std::string connection;
    int status = 0;
    std::string range, if_range, etag;
};

class NginxServer {
public:
    // Raises std::runtime_error when nginx cannot be started. A `port` of 0
    // takes a free one; a fixed port is for programs built to reach it.
    explicit NginxServer(const std::filesystem::path& root, uint16_t port = 0);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    uint16_t port() const { return FPort; }
    std::string url(const std::string& path) const;
    // The connection serial number of each request logged so far. nginx
    // logs a request only after it has sent the response, so a client may
    // finish before the line is written: this waits (up to 10 s) until at
    // least `at_least` requests are logged.
    std::vector<std::string> request_connections(size_t at_least = 0) const;
    // Every request logged so far, waiting as request_connections does.
    std::vector<NginxRequest> requests(size_t at_least = 0) const;

private:
    std::filesystem::path FPrefix;
    uint16_t FPort = 0;
    uint32_t FMasterPid = 0;
};

// A free loopback port at the time of the call.
uint16_t free_loopback_port();

} // namespace kv::test
