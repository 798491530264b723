// The resume of the Windows build against nginx: the win64 kvtool.exe, under
// Wine in the Turkish locale, downloads as the updater's download does
// (resume and retries included) through a relay on the Linux side that cuts
// the line, so that nginx's own ETag and 206 answer the resumed tries. The
// same relay cases as http_nginx_test, for the Windows sockets under Wine.
#include "support/command.h"
#include "support/cutting_relay.h"
#include "support/fake_programs.h"
#include "support/http_nginx.h"
#include "support/rar5_writer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const fs::path kKvtool = fs::path(KV_WIN64_BIN_DIR) / "kvtool.exe";

std::string random_bytes(size_t size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(gen());
    return data;
}

// kvtool get of one URL into `file` in `folder`, under 64-bit Wine in the
// Turkish locale: its exit status and the JSON lines it printed.
struct GetRun {
    int status = -1;
    std::vector<Json> lines;
    std::string output;
    std::vector<Json> tries() const {
        std::vector<Json> out;
        for (const Json& l : lines)
            if (l.contains("try")) out.push_back(l);
        return out;
    }
};
GetRun wine_get(const fs::path& folder, const std::string& url, const std::string& file) {
    const CommandRun r =
        run_command("cd " + shell_quoted(folder) +
                    " && env -u LC_ALL LANG=tr_TR.UTF-8 WINEDEBUG=-all /usr/lib/wine/wine64 " +
                    shell_quoted(kKvtool) + " get " + url + " " + file + " </dev/null 2>&1");
    GetRun run{r.status, {}, r.out};
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        Json j = Json::parse(line, nullptr, false);
        if (j.is_object()) run.lines.push_back(j);
    }
    return run;
}

class WineNginx : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("WINEPREFIX"), nullptr) << "no Wine prefix: run under scripts/test";
        ASSERT_TRUE(fs::exists(kKvtool)) << kKvtool << " is missing: build the win64 preset";
    }
    ScratchDir FRoot{"wine-nginx"};
    fs::path served() const { return FRoot.path() / "www" / "2027" / "kuvento.rar"; }
    void serve(const std::string& bytes) const {
        fs::create_directories(served().parent_path());
        write_file(served().string(), bytes);
    }
};

// Cut three times (inside the status line, then twice in the body), the file
// comes out byte for byte: each try that kept bytes is followed by a Range
// from there with If-Range on the ETag of nginx's first answer, answered 206.
TEST_F(WineNginx, CutDownloadResumesToTheExactBytes) {
    const std::string bytes = random_bytes(700000, 9);
    serve(bytes);
    NginxServer nginx(FRoot.path() / "www");
    CuttingRelay relay(nginx.port(), {1, 120001, 333333});

    const GetRun run = wine_get(FRoot.path(), relay.url("/2027/kuvento.rar"), "kuvento.rar");

    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(read_file((FRoot.path() / "kuvento.rar").string()), bytes) << run.output;
    const std::vector<Json> tries = run.tries();
    ASSERT_EQ(tries.size(), 3u) << run.output;
    EXPECT_EQ(tries[0]["kept"], 0) << "cut inside the status line";
    EXPECT_GT(tries[1]["kept"].get<int64_t>(), 0);
    EXPECT_GT(tries[2]["kept"].get<int64_t>(), tries[1]["kept"].get<int64_t>());
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back()["bytes"], bytes.size()) << run.output;

    const std::vector<NginxRequest> requests = nginx.requests(4);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_EQ(requests[0].range, "-");
    ASSERT_EQ(requests[0].etag.rfind('"', 0), 0u) << "a strong ETag: " << requests[0].etag;
    for (size_t i = 0; i < tries.size(); ++i) {
        SCOPED_TRACE("after try " + std::to_string(i + 1));
        const NginxRequest& next = requests[i + 1];
        const int64_t kept = tries[i]["kept"].get<int64_t>();
        if (kept == 0) {
            EXPECT_EQ(next.status, 200);
            EXPECT_EQ(next.range, "-");
            continue;
        }
        EXPECT_EQ(next.status, 206);
        EXPECT_EQ(next.range, "bytes=" + std::to_string(kept) + "-");
        EXPECT_EQ(next.if_range, requests[0].etag);
    }
}

// The file changed on the server between the cut and the next try (same
// size, other bytes): the resume asks If-Range on the old ETag, nginx answers
// 200 with the new file whole, and that is what comes out, never the old
// head joined to the new tail.
TEST_F(WineNginx, FileChangedBetweenTriesIsNeverSpliced) {
    serve(random_bytes(400000, 1));
    const std::string changed = random_bytes(400000, 2);
    NginxServer nginx(FRoot.path() / "www");
    CuttingRelay relay(nginx.port(), {150000}, [&] {
        const auto mtime = fs::last_write_time(served());
        serve(changed);
        fs::last_write_time(served(), mtime + std::chrono::seconds(10));
    });

    const GetRun run = wine_get(FRoot.path(), relay.url("/2027/kuvento.rar"), "kuvento.rar");

    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(read_file((FRoot.path() / "kuvento.rar").string()) == changed)
        << "the download is not the changed file whole: " << run.output;
    ASSERT_EQ(run.tries().size(), 1u) << run.output;
    EXPECT_GT(run.tries()[0]["kept"].get<int64_t>(), 0);
    const std::vector<NginxRequest> requests = nginx.requests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, "bytes=" + std::to_string(run.tries()[0]["kept"].get<int64_t>()) + "-");
    EXPECT_EQ(requests[1].if_range, requests[0].etag);
    EXPECT_EQ(requests[1].status, 200) << "the old ETag no longer matches";
    EXPECT_NE(requests[1].etag, requests[0].etag);
}

} // namespace
} // namespace kv::test
