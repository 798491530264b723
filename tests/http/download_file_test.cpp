// DownloadFile and the progress handlers of the window, on the scripted
// window backend, downloading from nginx and the scripted server on loopback.
// The Windows build runs the scripted server's cases under Wine; nginx is
// started as a Linux program, so its cases are the Linux build's.
#include "app/updater_fixture.h"
#include "http/net_exceptions.h"
#include "platform/files.h"
#include "rtl/exception.h"
#include "support/http_nginx.h"
#include "support/http_script_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

namespace kv {
namespace {
namespace fs = std::filesystem;

// The scripted window, also recording every text Label27 shows.
class RecordingBackend : public window::ScriptedBackend {
public:
    void update(window::Control& c) override {
        if (c.Name() == "Label27") label27.push_back(c.Caption());
    }
    std::vector<std::string> label27;
};

struct Window {
    RecordingBackend backend;
    TApplication app{backend};
    TForm1* form = nullptr;
    Window() {
        app.Initialize();
        app.CreateForm(form, test::test_config());
        backend.show_window();
        backend.label27.clear();
    }
};

std::string read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

#ifndef _WIN32
TEST(DownloadFile, ProgressDisplayFollowsTheTransfer) {
    test::SiteFolder site;
    const size_t size = 3'000'000;
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>(i * 131 + (i >> 9));
    site.write("www/2027/kuvento.rar", body);
    site.write("update/kuvento.rar", std::string(size + 5000, 'o')); // longer than the new body
    test::NginxServer nginx(site.path() / "www");
    Window w;
    int pumps_before = w.backend.pumps();

    w.form->DownloadFile(nginx.url("/2027/kuvento.rar"), (site.path() / "update" / "kuvento.rar").string());

    EXPECT_EQ(read_file(site.path() / "update" / "kuvento.rar"), body);
    const auto& texts = w.backend.label27;
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts.front(), "% 0");
    EXPECT_EQ(texts.back(), "% 100");
    int64_t previous = 0;
    for (size_t i = 1; i + 1 < texts.size(); ++i) {
        ASSERT_EQ(texts[i].rfind("% ", 0), 0u) << texts[i];
        int64_t n = std::stoll(texts[i].substr(2));
        EXPECT_GT(n, previous);
        previous = n;
    }
    EXPECT_EQ(previous, static_cast<int64_t>(size)); // the bar's position, not a percentage
    EXPECT_EQ(w.form->ProgressBar.Max(), static_cast<int32_t>(size));
    EXPECT_EQ(w.form->ProgressPosition(), static_cast<int32_t>(size));
    EXPECT_GE(w.backend.repaints(), static_cast<int>(texts.size()) - 2);
    EXPECT_GE(w.backend.pumps() - pumps_before, static_cast<int>(texts.size()) - 2);
}
#endif

TEST(DownloadFile, WithoutALengthTheBarStaysAtZero) {
    test::SiteFolder site;
    test::HttpScriptServer server(
        {{test::read_request(), test::send("HTTP/1.1 200 OK\r\n\r\nbody until close"),
          test::close_connection()}});
    Window w;
    w.form->DownloadFile(server.url("/2027/kuvento.rar"), (site.path() / "update" / "kuvento.rar").string());
    EXPECT_EQ(read_file(site.path() / "update" / "kuvento.rar"), "body until close");
    EXPECT_EQ(w.backend.label27, (std::vector<std::string>{"% 0", "% 100"}));
    EXPECT_EQ(w.form->ProgressBar.Max(), 0);
    EXPECT_EQ(w.form->ProgressPosition(), 0);
}

// A cut body is resumed: the text says that it tries again, the bar goes on
// from the cut and never back, and the run log records the try.
TEST(DownloadFile, CutBodyIsResumedAndTheBarGoesOn) {
    test::SiteFolder site;
    const std::string body(60000, 'k');
    const std::string etag = "ETag: \"1-ea60\"\r\n";
    test::HttpScriptServer server(
        {{test::read_request(),
          test::send("HTTP/1.1 200 OK\r\nContent-Length: 60000\r\n" + etag + "\r\n" + body.substr(0, 40000)),
          test::close_connection()},
         {test::read_request(),
          test::send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 4\r\n\r\nbusy")},
         test::respond("HTTP/1.1 206 Partial Content\r\nContent-Length: 20000\r\nContent-Range: bytes "
                       "40000-59999/60000\r\n" +
                       etag + "\r\n" + body.substr(40000))});
    Window w;
    w.app.Log.Open((site.path() / "KVUpdate.log").string(), "test");
    w.form->DownloadFile(server.url("/2027/kuvento.rar"), (site.path() / "update" / "kuvento.rar").string());
    w.app.Log.Close();

    EXPECT_EQ(read_file(site.path() / "update" / "kuvento.rar"), body);
    const auto& texts = w.backend.label27;
    EXPECT_NE(std::find(texts.begin(), texts.end(), "% 40000 — yeniden deneniyor (1/5)"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "% 40000 — yeniden deneniyor (2/5)"), texts.end());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "% 0"), 1);
    int64_t previous = 0;
    for (const std::string& t : texts) {
        if (t == "% 100") continue; // the end's text, not a position
        int64_t n = std::stoll(t.substr(2));
        EXPECT_GE(n, previous) << t;
        previous = n;
    }
    EXPECT_EQ(texts.back(), "% 100");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "% 100"), 1);
    EXPECT_EQ(w.form->ProgressPosition(), 60000);
    const std::string log = read_file(site.path() / "KVUpdate.log");
    EXPECT_NE(log.find("try 1 failed: Connection Closed Gracefully.; 40000 bytes kept"), std::string::npos)
        << log;
    EXPECT_NE(log.find("try 2 failed: HTTP/1.1 503 Service Unavailable; 40000 bytes kept"), std::string::npos)
        << log;
}

#ifndef _WIN32
TEST(DownloadFile, MissingFolderIsACreateErrorAndNoRequest) {
    test::SiteFolder site;
    site.write("www/2027/x.rar", "x");
    test::NginxServer nginx(site.path() / "www");
    Window w;
    std::string missing = (site.path() / "nofolder" / "kuvento.rar").string();
    try {
        w.form->DownloadFile(nginx.url("/2027/x.rar"), missing);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file \"" + missing + ".part\". ", 0), 0u) << e.Message();
    }
    EXPECT_TRUE(nginx.request_connections().empty());
}
#endif

// A download that fails leaves the file it was to replace as it was, and no
// part of itself: the error status, a body cut short, a server that is not
// there. A target that did not exist is not created.
TEST(DownloadFile, FailuresLeaveTheTargetAsItWas) {
    struct Case {
        const char* what;
        std::vector<test::ConnectionScript> scripts; // empty: nothing listens
        const char* error;
    };
    const Case cases[] = {
        {"error status",
         {test::respond("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found")},
         "HTTP/1.1 404 Not Found"},
        {"cut body",
         {{test::read_request(),
           test::send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(30000, 'n')),
           test::close_connection()}},
         ""},
        {"no server", {}, ""},
    };
    for (const Case& c : cases) {
        for (bool existed : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (existed ? ", target existed" : ", no target"));
            test::SiteFolder site;
            fs::path target = site.path() / "logo1024.png";
            if (existed) site.write("logo1024.png", "the old logo");
            std::optional<test::HttpScriptServer> server;
            if (!c.scripts.empty()) server.emplace(c.scripts);
            Window w;
            try {
                w.form->DownloadFile(server ? server->url("/logo1024.png")
                                            : "http://127.0.0.1:9/logo1024.png",
                                     target.string());
                ADD_FAILURE() << "no error";
            } catch (const Exception& e) {
                EXPECT_NE(e.Message().find(c.error), std::string::npos) << e.Message();
            }
            if (existed)
                EXPECT_EQ(read_file(target), "the old logo");
            else
                EXPECT_FALSE(fs::exists(target));
            EXPECT_FALSE(fs::exists(target.string() + ".part"));
        }
    }
}

// A read-only target is refused with the create error and keeps its content.
TEST(DownloadFile, ReadOnlyTargetIsACreateError) {
    test::SiteFolder site;
    test::HttpScriptServer server({test::respond("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew")});
    fs::path target = site.write("logo1024.png", "the old logo");
    ASSERT_TRUE(os::set_read_only(target.string(), true));
    Window w;
    try {
        w.form->DownloadFile(server.url("/logo1024.png"), target.string());
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file \"" + target.string() + "\". ", 0), 0u)
            << e.Message();
    }
    EXPECT_EQ(read_file(target), "the old logo");
    EXPECT_FALSE(fs::exists(target.string() + ".part"));
}

} // namespace
} // namespace kv
