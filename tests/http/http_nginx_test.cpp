// TNetHTTP against a real server: nginx on loopback, started privately by the test.
// The resumed downloads go through a relay that cuts the line after a given
// number of bytes of each connection, so nginx's own ETag and 206 answer.
#include "http/net_download.h"
#include "http/net_exceptions.h"
#include "http/net_http.h"
#include "rtl/stream.h"
#include "support/cutting_relay.h"
#include "support/http_nginx.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

namespace kv {
namespace {
namespace fs = std::filesystem;

struct Site {
    fs::path root;
    Site() {
        root = fs::temp_directory_path() /
               ("kv_site_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(root / "www" / "2027");
        fs::create_directories(root / "out");
    }
    ~Site() { fs::remove_all(root); }
    void write(const std::string& rel, size_t size, uint32_t seed) const {
        std::mt19937 gen(seed);
        std::string data(size, '\0');
        for (char& c : data)
            c = static_cast<char>(gen());
        std::ofstream(root / "www" / rel, std::ios::binary)
            .write(data.data(), static_cast<std::streamsize>(size));
    }
};

bool same_file(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
            return false;
    }
    return fa.eof() && fb.eof();
}

using test::CuttingRelay;

// Cut three times at different points, the file comes out byte for byte
// from nginx's 206 answers to If-Range on its own ETag.
TEST(HttpNginx, CutDownloadResumesToTheExactBytes) {
    Site site;
    site.write("2027/kuvento.rar", 700000, 9);
    test::NginxServer nginx(site.root / "www");
    CuttingRelay relay(nginx.port(), {1, 120001, 333333});
    TNetHTTP http;
    TNetDownload download(http);
    download.Wait = [](int) {};
    std::vector<TNetDownloadTry> tries;
    download.OnTry = [&](const TNetDownloadTry& t) { tries.push_back(t); };
    fs::path out = site.root / "out" / "kuvento.rar";
    {
        TFileStream file(out.string(), fmCreate);
        download.Get(relay.url("/2027/kuvento.rar"), file);
    }
    EXPECT_TRUE(same_file(out, site.root / "www" / "2027" / "kuvento.rar"));
    ASSERT_EQ(tries.size(), 3u);
    EXPECT_EQ(tries[0].Kept, 0); // cut inside the status line
    EXPECT_GT(tries[1].Kept, 0);
    EXPECT_GT(tries[2].Kept, tries[1].Kept);
    EXPECT_EQ(nginx.request_connections(4).size(), 4u);
}

// The file changed on the server between tries (same size, other bytes):
// nginx's ETag changed with it, the If-Range fails, and the whole new file
// comes in one answer; never the old head joined to the new tail.
TEST(HttpNginx, FileChangedBetweenTriesIsNeverSpliced) {
    Site site;
    site.write("2027/kuvento.rar", 400000, 1);
    const fs::path served = site.root / "www" / "2027" / "kuvento.rar";
    test::NginxServer nginx(site.root / "www");
    CuttingRelay relay(nginx.port(), {150000});
    TNetHTTP http;
    TNetDownload download(http);
    download.Wait = [](int) {};
    download.OnTry = [&](const TNetDownloadTry&) {
        const auto mtime = fs::last_write_time(served);
        site.write("2027/kuvento.rar", 400000, 2);
        fs::last_write_time(served, mtime + std::chrono::seconds(10));
    };
    fs::path out = site.root / "out" / "kuvento.rar";
    {
        TFileStream file(out.string(), fmCreate);
        download.Get(relay.url("/2027/kuvento.rar"), file);
    }
    EXPECT_TRUE(same_file(out, served));
    EXPECT_EQ(nginx.request_connections(2).size(), 2u);
}

TEST(HttpNginx, SevenDownloadsShareOneConnection) {
    Site site;
    const char* names[] = {"logo1024.png",     "2027/kuvento.rar", "2027/telvano.rar", "2027/report.rar",
                           "2027/dorvika.rar", "2027/dll.rar",     "2027/kuvento.rar"};
    for (uint32_t i = 0; i < 7; ++i)
        site.write(names[i], 1000 + i * 70001, i);
    test::NginxServer nginx(site.root / "www");
    TNetHTTP http;
    for (uint32_t i = 0; i < 7; ++i) {
        fs::path out = site.root / "out" / std::to_string(i);
        {
            TFileStream file(out.string(), fmCreate);
            http.Get(nginx.url("/" + std::string(names[i])), &file);
        }
        EXPECT_EQ(http.ResponseCode(), 200);
        EXPECT_TRUE(same_file(out, site.root / "www" / names[i])) << names[i];
    }
    auto conns = nginx.request_connections(7);
    ASSERT_EQ(conns.size(), 7u);
    for (const std::string& c : conns)
        EXPECT_EQ(c, conns[0]);
}

TEST(HttpNginx, LargeFileByteIdentical) {
    Site site;
    site.write("2027/big.rar", 200u << 20, 42);
    test::NginxServer nginx(site.root / "www");
    TNetHTTP http;
    int64_t last = 0, max = -1;
    http.OnWorkBegin = [&](TNetComponent*, TWorkMode, int64_t m) { max = m; };
    http.OnWork = [&](TNetComponent*, TWorkMode, int64_t n) { last = n; };
    fs::path out = site.root / "out" / "big.rar";
    {
        TFileStream file(out.string(), fmCreate);
        http.Get(nginx.url("/2027/big.rar"), &file);
    }
    EXPECT_EQ(max, int64_t(200) << 20);
    EXPECT_EQ(last, max);
    EXPECT_TRUE(same_file(out, site.root / "www" / "2027" / "big.rar"));
}

TEST(HttpNginx, MissingFileRaisesWithTheStatusLine) {
    Site site;
    test::NginxServer nginx(site.root / "www");
    TNetHTTP http;
    TMemoryStream s;
    try {
        http.Get(nginx.url("/2027/none.rar"), &s);
        FAIL() << "no error";
    } catch (const ENetHTTPProtocolException& e) {
        EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
        EXPECT_NE(e.ErrorMessage().find("404"), std::string::npos);
    }
    EXPECT_EQ(s.Size(), 0);
}

} // namespace
} // namespace kv
