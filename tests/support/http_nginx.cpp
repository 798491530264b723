// The private nginx for tests (see http_nginx.h).
#include "http_nginx.h"

#include "fake_programs.h"

#include "platform/processes.h"
#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kv::test {
namespace fs = std::filesystem;

uint16_t free_loopback_port() {
    os::socket_startup();
    uint32_t error = 0;
    os::SocketHandle s = os::socket_open(4, error);
    uint16_t port = 0;
    if (s != os::kInvalidSocket && os::socket_listen(s, "127.0.0.1", 0, 1) == 0)
        port = os::socket_local_port(s);
    if (s != os::kInvalidSocket) os::socket_close(s);
    return port;
}

namespace {

std::string nginx_command(const fs::path& prefix, const std::string& extra) {
    return "nginx -e '" + (prefix / "error.log").string() + "' -p '" + prefix.string() + "' -c '" +
           (prefix / "nginx.conf").string() + "'" + extra;
}

// The folder of the run's peers when the run names one (scripts/test does),
// else the temporary folder.
fs::path peers_folder() {
    if (const char* d = std::getenv("KV_TEST_PEERS"); d && *d) {
        fs::create_directories(d);
        return d;
    }
    return fs::temp_directory_path();
}

// The test that starts the server, and its program, for the run's sweep to
// name the test that left it running.
std::string starting_test() {
    std::string who;
    if (const auto* t = ::testing::UnitTest::GetInstance()->current_test_info())
        who = std::string(t->test_suite_name()) + "." + t->name();
    else
        who = "(outside a test)";
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) who += " in " + exe.filename().string();
    return who;
}

uint32_t read_pid(const fs::path& file) {
    std::ifstream in(file);
    uint32_t pid = 0;
    in >> pid;
    return pid;
}

} // namespace

NginxServer::NginxServer(const fs::path& root, uint16_t port) {
    FPrefix = peers_folder() /
              ("kv_nginx_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(FPrefix);
    std::ofstream(FPrefix / "test") << starting_test() << "\n";
    FPort = port ? port : free_loopback_port();
    std::ofstream conf(FPrefix / "nginx.conf");
    std::string p = FPrefix.string();
    conf << "daemon on;\nworker_processes 1;\nuser root;\npid " << p << "/nginx.pid;\n"
         << "error_log " << p << "/error.log;\nevents { worker_connections 64; }\n"
         << "http {\n  default_type application/octet-stream;\n"
         << "  log_format conn "
            "'$connection\\t$status\\t$http_range\\t$http_if_range\\t$sent_http_etag\\t$request';\n"
         << "  access_log " << p << "/access.log conn;\n"
         << "  client_body_temp_path " << p << "/body;\n  proxy_temp_path " << p << "/proxy;\n"
         << "  fastcgi_temp_path " << p << "/fastcgi;\n  uwsgi_temp_path " << p << "/uwsgi;\n"
         << "  scgi_temp_path " << p << "/scgi;\n  sendfile on;\n  keepalive_requests 1000;\n"
         << "  server {\n    listen 127.0.0.1:" << FPort << ";\n    root " << fs::absolute(root).string()
         << ";\n  }\n}\n";
    conf.close();
    if (std::system(nginx_command(FPrefix, " 2>>'" + p + "/start.log'").c_str()) != 0)
        throw std::runtime_error("nginx did not start; see " + p + "/start.log");
    // The master writes its pid file once it listens; the command returns
    // when the daemon has forked.
    if (!wait_until([&] { return read_pid(FPrefix / "nginx.pid") != 0; }))
        throw std::runtime_error("nginx wrote no pid file; see " + p + "/error.log");
    FMasterPid = read_pid(FPrefix / "nginx.pid");
}

// The master stops its workers before it ends. A stop that reaches the
// master after its pid file is written but before it waits for signals only
// sets a flag that it looks at after the next signal: so the stop is sent
// again while the master is still there. One that does not end keeps its
// folder, pid file and all, for the sweep at the end of the test run.
NginxServer::~NginxServer() {
    bool ended = false;
    for (int i = 0; i < 10 && !ended; ++i) {
        std::system(nginx_command(FPrefix, " -s stop 2>/dev/null").c_str());
        ended = os::wait_process_end(FMasterPid, 1000);
    }
    if (!ended) {
        std::fprintf(stderr, "nginx %u did not stop; left in %s\n", FMasterPid, FPrefix.string().c_str());
        return;
    }
    std::error_code ec;
    fs::remove_all(FPrefix, ec);
}

std::string NginxServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

std::vector<std::string> NginxServer::request_connections(size_t at_least) const {
    std::vector<std::string> out;
    for (const NginxRequest& r : requests(at_least))
        out.push_back(r.connection);
    return out;
}

// nginx writes a double quote in a logged value as \x22.
std::vector<NginxRequest> NginxServer::requests(size_t at_least) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::ifstream log(FPrefix / "access.log");
        std::vector<NginxRequest> out;
        // A line without its newline is still being written.
        for (std::string line; std::getline(log, line) && !log.eof();) {
            std::string text;
            for (size_t i = 0; i < line.size(); ++i) {
                const bool quote = line.compare(i, 4, "\\x22") == 0;
                text += quote ? '"' : line[i];
                if (quote) i += 3;
            }
            std::vector<std::string> f;
            std::istringstream fields(text);
            for (std::string field; std::getline(fields, field, '\t');)
                f.push_back(field);
            f.resize(5);
            out.push_back({f[0], std::atoi(f[1].c_str()), f[2], f[3], f[4]});
        }
        if (out.size() >= at_least || std::chrono::steady_clock::now() > deadline) return out;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace kv::test
