// TNetDownload against the scripted loopback server: a cut body resumed to
// the exact bytes, every answer that must start the file again from zero,
// the retried failures with their waits and bounds, and the listed size.
// The waits are recorded instead of slept, so no test waits on a clock.
#include "http/net_download.h"
#include "http/net_exceptions.h"
#include "rtl/stream.h"
#include "support/http_script_server.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

using test::ConnectionScript;
using test::HttpScriptServer;
using test::read_request;
using test::send;

std::string pattern(size_t n, int seed = 0) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 131 + (i >> 7) + seed);
    return s;
}

std::string head200(size_t length, const std::string& extra) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra + "\r\n";
}

std::string head206(size_t first, size_t total, const std::string& extra) {
    return "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(total - first) +
           "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(total - 1) + "/" +
           std::to_string(total) + "\r\n" + extra + "\r\n";
}

ConnectionScript cut_after(std::string bytes) {
    return {read_request(), send(std::move(bytes)), test::close_connection()};
}

struct Fetcher {
    explicit Fetcher(TNetRetryPolicy policy = quick()) : download(http, policy) {
        download.Wait = [this](int ms) { waits.push_back(ms); };
        download.OnTry = [this](const TNetDownloadTry& t) { tries.push_back(t); };
        http.OnWorkBegin = [this](TNetComponent*, TWorkMode, int64_t max) { begins.push_back(max); };
        http.OnWork = [this](TNetComponent*, TWorkMode, int64_t count) { counts.push_back(count); };
        http.OnWorkEnd = [this](TNetComponent*, TWorkMode) { ++ends; };
    }
    static TNetRetryPolicy quick() {
        TNetRetryPolicy p;
        p.JitterMs = 0;
        return p;
    }
    // The error's class and message, or "" when the file came whole.
    std::string get(const std::string& url) {
        try {
            download.Get(url, file);
        } catch (const ENetSocketError& e) {
            return std::string(e.ClassName()) + " " + std::to_string(e.LastError());
        } catch (const Exception& e) {
            return std::string(e.ClassName()) + ": " + e.Message();
        }
        return "";
    }
    std::string body() { return std::string(file.View()); }

    TNetHTTP http;
    TNetDownload download;
    TMemoryStream file;
    std::vector<int> waits;
    std::vector<TNetDownloadTry> tries;
    std::vector<int64_t> begins, counts;
    int ends = 0;
};

bool has_line(const std::string& head, const std::string& line) {
    return head.find("\r\n" + line + "\r\n") != std::string::npos;
}

// Cut at the first byte, inside, and one byte short: the rest is asked for
// with the first answer's strong ETag and appended; the bar goes on from the
// cut, with one begin for the whole file.
TEST(NetDownload, CutBodyIsResumedToTheExactBytes) {
    const size_t total = 100000;
    const std::string body = pattern(total);
    const std::string etag = "ETag: \"5f3a-186a0\"\r\nAccept-Ranges: bytes\r\n";
    for (size_t cut : {size_t(1), size_t(40000), total - 1}) {
        SCOPED_TRACE(cut);
        HttpScriptServer server({cut_after(head200(total, etag) + body.substr(0, cut)),
                                 test::respond(head206(cut, total, etag) + body.substr(cut))});
        Fetcher r;
        EXPECT_EQ(r.get(server.url("/2027/kuvento.rar")), "");
        EXPECT_EQ(r.body(), body);
        const auto heads = server.requests();
        ASSERT_EQ(heads.size(), 2u);
        EXPECT_TRUE(has_line(heads[0], "Accept-Encoding: identity")) << heads[0];
        EXPECT_EQ(heads[0].find("Range:"), std::string::npos);
        EXPECT_TRUE(has_line(heads[1], "Range: bytes=" + std::to_string(cut) + "-")) << heads[1];
        EXPECT_TRUE(has_line(heads[1], "If-Range: \"5f3a-186a0\"")) << heads[1];
        ASSERT_EQ(r.tries.size(), 1u);
        EXPECT_EQ(r.tries[0].Kept, static_cast<int64_t>(cut));
        EXPECT_EQ(r.tries[0].Cause, "Connection Closed Gracefully.");
        EXPECT_EQ(r.begins, (std::vector<int64_t>{total}));
        EXPECT_TRUE(std::is_sorted(r.counts.begin(), r.counts.end()));
        EXPECT_EQ(r.counts.back(), static_cast<int64_t>(total));
        EXPECT_EQ(r.ends, 1);
        EXPECT_TRUE(r.http.Request().CustomHeaders.Lines.empty()); // nothing of the resume stays behind
    }
}

// Everything but a 206 that continues the file exactly where it was cut, of
// the same whole, starts the file again from zero: the result is always one
// whole answer, never a splice of two files.
TEST(NetDownload, AnythingButAnExactContinuationStartsFromZero) {
    const size_t total = 50000, cut = 20000;
    const std::string body = pattern(total), changed = pattern(total, 7);
    const std::string etag = "ETag: \"aa-c350\"\r\n";
    struct Case {
        const char* what;
        std::string first_extra;            // headers of the first, cut answer
        std::vector<ConnectionScript> then; // the answers after the cut
        const char* range;                  // the second request's Range, "" none
        const char* if_range;
        std::string result;
    } cases[] = {
        {"server ignores Range",
         etag,
         {test::respond(head200(total, etag) + body)},
         "bytes=20000-",
         "\"aa-c350\"",
         body},
        {"file changed between tries",
         etag,
         {test::respond(head200(total, "ETag: \"bb-c350\"\r\n") + changed)},
         "bytes=20000-",
         "\"aa-c350\"",
         changed},
        {"206 at another start",
         etag,
         {test::respond(head206(cut - 100, total, etag) + body.substr(cut - 100)),
          test::respond(head200(total, etag) + body)},
         "bytes=20000-",
         "\"aa-c350\"",
         body},
        {"206 of another whole",
         etag,
         {test::respond(head206(cut, total + 10, etag) + changed.substr(cut) + "0123456789"),
          test::respond(head200(total, etag) + body)},
         "bytes=20000-",
         "\"aa-c350\"",
         body},
        {"weak ETag", "ETag: W/\"aa-c350\"\r\n", {test::respond(head200(total, etag) + body)}, "", "", body},
        {"no validator", "", {test::respond(head200(total, "") + body)}, "", "", body},
        {"Last-Modified only",
         "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n",
         {test::respond(head206(cut, total, "") + body.substr(cut))},
         "bytes=20000-",
         "Tue, 01 Dec 2026 10:00:00 GMT",
         body},
        {"Content-Encoding",
         etag + "Content-Encoding: gzip\r\n",
         {test::respond(head200(total, etag) + body)},
         "",
         "",
         body},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<ConnectionScript> scripts{cut_after(head200(total, c.first_extra) + body.substr(0, cut))};
        scripts.insert(scripts.end(), c.then.begin(), c.then.end());
        HttpScriptServer server(scripts);
        Fetcher r;
        EXPECT_EQ(r.get(server.url("/a.rar")), "");
        EXPECT_TRUE(r.body() == c.result) << "the file is not the one answer it should be";
        const auto heads = server.requests();
        ASSERT_GE(heads.size(), 2u);
        if (*c.range) {
            EXPECT_TRUE(has_line(heads[1], std::string("Range: ") + c.range)) << heads[1];
            EXPECT_TRUE(has_line(heads[1], std::string("If-Range: ") + c.if_range)) << heads[1];
        } else {
            EXPECT_EQ(heads[1].find("Range:"), std::string::npos) << heads[1];
        }
        for (size_t i = 2; i < heads.size(); ++i)
            EXPECT_EQ(heads[i].find("Range:"), std::string::npos) << heads[i];
    }
}

// What is tried again, after which wait, and when it gives up: the error is
// then the last try's. A cut that brought the file 64 KiB further is tried
// again at once; one with less progress waits the first wait; tries without
// progress double it.
TEST(NetDownload, TransientFailuresAreTriedAgainWithinTheBound) {
    const std::string ok = head200(5, "") + "hello";
    auto status = [](const std::string& line, const std::string& extra = "") {
        return test::respond("HTTP/1.1 " + line + "\r\nContent-Length: 4\r\n" + extra + "\r\nbusy");
    };
    const ConnectionScript reset{read_request(), test::reset_connection()};
    TNetRetryPolicy timed = Fetcher::quick();
    timed.TimeWithoutProgressMs = 0;
    TNetRetryPolicy jittered;
    jittered.JitterMs = 1000;

    const size_t total = 200000, kib64 = 64 * 1024;
    const std::string file = pattern(total);
    const std::string etag = "ETag: \"c1-30d40\"\r\n";
    auto cut_at = [&](size_t from, size_t to) {
        return cut_after((from == 0 ? head200(total, etag) : head206(from, total, etag)) +
                         file.substr(from, to - from));
    };
    auto rest_from = [&](size_t from) {
        return test::respond(head206(from, total, etag) + file.substr(from));
    };
    struct Case {
        const char* what;
        std::vector<ConnectionScript> scripts;
        TNetRetryPolicy policy;
        std::vector<int> waits;
        std::string error; // "" the file came whole
        size_t requests;
        std::string body = "hello";
    } cases[] = {
        {"cut after 64 KiB: at once",
         {cut_at(0, kib64), rest_from(kib64)},
         Fetcher::quick(),
         {0},
         "",
         2,
         file},
        {"cut after 64 KiB: no random part either",
         {cut_at(0, kib64), cut_at(kib64, 3 * kib64), rest_from(3 * kib64)},
         jittered,
         {0, 0},
         "",
         3,
         file},
        {"cut a byte short of 64 KiB: the first wait",
         {cut_at(0, kib64 - 1), rest_from(kib64 - 1)},
         Fetcher::quick(),
         {1000},
         "",
         2,
         file},
        {"cuts after a few bytes: the first wait each, never less",
         {cut_at(0, 10), cut_at(10, 30), rest_from(30)},
         Fetcher::quick(),
         {1000, 1000},
         "",
         3,
         file},
        {"cut after 64 KiB, then 503 twice: the doubling starts again",
         {cut_at(0, kib64), status("503 Service Unavailable"), status("503 Service Unavailable"),
          rest_from(kib64)},
         Fetcher::quick(),
         {0, 1000, 2000},
         "",
         4,
         file},
        {"503 twice, then 200",
         {status("503 Service Unavailable"), status("503 Service Unavailable"), test::respond(ok)},
         Fetcher::quick(),
         {1000, 2000},
         "",
         3},
        {"Retry-After",
         {status("503 Service Unavailable", "Retry-After: 7\r\n"), test::respond(ok)},
         Fetcher::quick(),
         {7000},
         "",
         2},
        {"Retry-After beyond a minute",
         {status("429 Too Many Requests", "Retry-After: 600\r\n"), test::respond(ok)},
         Fetcher::quick(),
         {60000},
         "",
         2},
        {"408, 500, 502, 504",
         {status("408 Request Timeout"), status("500 Internal Server Error"), status("502 Bad Gateway"),
          status("504 Gateway Timeout"), test::respond(ok)},
         Fetcher::quick(),
         {1000, 2000, 4000, 8000},
         "",
         5},
        {"404 is not retried",
         {status("404 Not Found")},
         Fetcher::quick(),
         {},
         "ENetHTTPProtocolException: HTTP/1.1 404 Not Found",
         1},
        {"403 is not retried",
         {status("403 Forbidden")},
         Fetcher::quick(),
         {},
         "ENetHTTPProtocolException: HTTP/1.1 403 Forbidden",
         1},
        {"five resets",
         {reset, reset, reset, reset, reset, test::respond(ok)},
         Fetcher::quick(),
         {1000, 2000, 4000, 8000},
         "ENetSocketError 10054",
         5},
        {"ten minutes without progress",
         {status("503 Service Unavailable"), test::respond(ok)},
         timed,
         {},
         "ENetHTTPProtocolException: HTTP/1.1 503 Service Unavailable",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpScriptServer server(c.scripts);
        Fetcher r(c.policy);
        EXPECT_EQ(r.get(server.url("/a.rar")), c.error);
        EXPECT_EQ(r.waits, c.waits);
        EXPECT_EQ(server.requests().size(), c.requests);
        if (c.error.empty()) {
            EXPECT_TRUE(r.body() == c.body);
            EXPECT_EQ(r.tries.size(), c.waits.size());
        } else if (c.requests > 1 || !c.waits.empty() || c.policy.TimeWithoutProgressMs == 0) {
            ASSERT_EQ(r.tries.size(), c.requests); // the last one gave up
            EXPECT_EQ(r.tries.back().WaitMs, -1);
        } else {
            EXPECT_TRUE(r.tries.empty()); // not worth another try
        }
    }
}

// A connection refused every time: five tries, then its error.
TEST(NetDownload, RefusedConnectionGivesUpAfterFiveTries) {
    Fetcher r;
    EXPECT_EQ(r.get("http://127.0.0.1:9/a.rar"), "ENetSocketError 10061");
    EXPECT_EQ(r.waits, (std::vector<int>{1000, 2000, 4000, 8000}));
    ASSERT_EQ(r.tries.size(), 5u);
    EXPECT_EQ(r.tries[4].WithoutProgress, 5);
}

// The listed size: another Content-Length is refused before the body, and
// neither it nor a longer body without a length is tried again.
TEST(NetDownload, ListedSizeBoundsTheFile) {
    const std::string body = pattern(3000);
    std::string chunked =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nbb8\r\n" + body + "\r\n0\r\n\r\n";
    struct Case {
        const char* what;
        std::string response;
        std::string error;
    } cases[] = {
        {"shorter Content-Length", head200(1000, "") + body.substr(0, 1000),
         "ENetBodyLengthRefused: Content-Length 1000 is not the expected 2000 bytes."},
        {"longer Content-Length", head200(3000, "") + body,
         "ENetBodyLengthRefused: Content-Length 3000 is not the expected 2000 bytes."},
        {"chunked, longer", chunked,
         "ENetBodyLengthRefused: Response body longer than the expected 2000 bytes."},
        {"until close, longer", "HTTP/1.1 200 OK\r\n\r\n" + body,
         "ENetBodyLengthRefused: Response body longer than the expected 2000 bytes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpScriptServer server(
            {cut_after(c.response), test::respond(head200(2000, "") + body.substr(0, 2000))});
        Fetcher r;
        r.download.ExpectedSize = 2000;
        EXPECT_EQ(r.get(server.url("/a.rar")), c.error);
        EXPECT_LE(r.file.Size(), 2000);
        EXPECT_TRUE(r.tries.empty());
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

} // namespace
} // namespace kv
