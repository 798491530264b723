// Resume and retries of one download (see net_download.h).
#include "http/net_download.h"

#include "http/net_exceptions.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"
#include "rtl/text.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <random>
#include <thread>

namespace kv {
namespace {

using Clock = std::chrono::steady_clock;

bool transient_socket_code(uint32_t code) {
    switch (code) {
    case 10050: // network down
    case 10051: // network unreachable
    case 10052: // network reset
    case 10053: // connection aborted
    case 10054: // connection reset
    case 10060: // timed out
    case 10061: // connection refused
    case 10065: // host unreachable
        return true;
    default:
        return false;
    }
}

bool transient_status(int code) {
    return code == 408 || code == 429 || code == 500 || code == 502 || code == 503 || code == 504;
}

std::optional<int64_t> decimal(std::string_view text) {
    int64_t v = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < 0) return std::nullopt;
    return v;
}

// "bytes first-last/total" of a Content-Range.
struct ContentRange {
    int64_t first = -1, last = -1, total = -1;
};
std::optional<ContentRange> parse_content_range(std::string_view value) {
    std::string v = trim(value);
    if (v.rfind("bytes ", 0) != 0) return std::nullopt;
    std::string_view r = std::string_view(v).substr(6);
    size_t dash = r.find('-'), slash = r.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash)
        return std::nullopt;
    auto first = decimal(trim(r.substr(0, dash))), last = decimal(trim(r.substr(dash + 1, slash - dash - 1))),
         total = decimal(trim(r.substr(slash + 1)));
    if (!first || !last || !total) return std::nullopt;
    return ContentRange{*first, *last, *total};
}

bool is_chunked(const TNetHTTPResponse& r) {
    return ascii_lower(r.TransferEncoding).find("chunked") != std::string::npos;
}

bool is_encoded(const TNetHTTPResponse& r) {
    std::string e = trim(r.ContentEncoding);
    return !e.empty() && !same_text_ascii_fold(e, "identity");
}

std::string message_of(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace

bool IsTransientNetError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const ENetHTTPProtocolException& e) {
        return transient_status(e.ErrorCode());
    } catch (const ENetSocketError& e) {
        return transient_socket_code(e.LastError());
    } catch (const ENetReadTimeout&) {
        return true;
    } catch (const ENetConnectTimeout&) {
        return true;
    } catch (const ENetConnClosedGracefully&) {
        return true; // the connection closed before the answer or its body ended
    } catch (const ENetResumeMismatch&) {
        return true; // the next try starts from zero
    } catch (...) {
        return false;
    }
}

TNetDownload::TNetDownload(TNetHTTP& http, TNetRetryPolicy policy) : FHttp(http), FPolicy(policy) {
    Wait = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

void TNetDownload::AcceptHead(TNetHTTPResponse& r, TStream& file) {
    if (r.ResponseCode == 206) {
        auto range = parse_content_range(r.RawHeaders.Values("Content-Range"));
        const bool continues = FOffset > 0 && range && range->first == FOffset && range->total == FTotal &&
                               range->last == FTotal - 1 && !is_encoded(r) &&
                               (!r.HasContentLength() || r.ContentLength == FTotal - FOffset);
        if (!continues) {
            FResumable = false;
            throw ENetResumeMismatch("The partial answer does not continue the file at byte " +
                                     std::to_string(FOffset) + " of " + std::to_string(FTotal) +
                                     ": Content-Range \"" + r.RawHeaders.Values("Content-Range") + "\".");
        }
    } else {
        // A whole answer, also to a resumed request (the server ignored the
        // range, or the file changed): the file starts again from zero.
        if (FOffset > 0) {
            file.SetSize(0);
            file.SetPosition(0);
            FOffset = 0;
            FBegun = false;
        }
        const bool length = r.HasContentLength() && !is_chunked(r);
        if (ExpectedSize >= 0) {
            if (length && r.ContentLength != ExpectedSize)
                throw ENetBodyLengthRefused("Content-Length " + std::to_string(r.ContentLength) +
                                            " is not the expected " + std::to_string(ExpectedSize) +
                                            " bytes.");
            FHttp.MaxBodyBytes = ExpectedSize;
        }
        FTotal = length ? r.ContentLength : -1;
        // If-Range takes a strong validator only, and a date only when there is no ETag.
        const std::string etag = trim(r.RawHeaders.Values("ETag"));
        FValidator = etag.empty()          ? trim(r.RawHeaders.Values("Last-Modified"))
                     : etag.front() == '"' ? etag
                                           : "";
        FResumable = FTotal > 0 && !FValidator.empty() && !is_encoded(r);
    }
    FInBody = true;
}

// The wait before the next try, after one that brought the file progress
// bytes further (0 for none): the server's Retry-After when it gave one; none
// after good progress; otherwise the first wait, doubled per try in a row
// without progress, plus the random part.
int TNetDownload::NextWait(int without_progress, int64_t progress, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const ENetHTTPProtocolException&) {
        if (auto seconds = decimal(trim(FHttp.Response().RawHeaders.Values("Retry-After"))))
            return static_cast<int>(std::min<int64_t>(*seconds * 1000, FPolicy.RetryAfterMaxMs));
    } catch (...) {
    }
    if (progress >= FPolicy.NoWaitProgressBytes) return 0;
    int64_t wait = FPolicy.FirstWaitMs;
    for (int i = 1; i < without_progress && wait < FPolicy.MaxWaitMs; ++i)
        wait *= 2;
    wait = std::min<int64_t>(wait, FPolicy.MaxWaitMs);
    static thread_local std::minstd_rand random{std::random_device{}()};
    if (FPolicy.JitterMs > 0) wait += std::uniform_int_distribution<int>(0, FPolicy.JitterMs)(random);
    return static_cast<int>(wait);
}

void TNetDownload::Get(const std::string& url, TStream& file) {
    FTotal = -1;
    FValidator.clear();
    FResumable = false;
    FBegun = false;
    file.SetSize(0);
    file.SetPosition(0);

    const TWorkBeginEvent begin = FHttp.OnWorkBegin;
    const TWorkEvent work = FHttp.OnWork;
    const TWorkEndEvent end = FHttp.OnWorkEnd;
    const auto head = FHttp.OnResponseHead;
    const int64_t max_body = FHttp.MaxBodyBytes;
    const std::string accept_encoding = FHttp.Request().AcceptEncoding;
    const TNetHeaderList custom = FHttp.Request().CustomHeaders;
    TNetComponent* sender = &FHttp;
    auto finish = [&] {
        if (FBegun && end) end(sender, TWorkMode::wmRead);
    };

    FHttp.OnWorkBegin = [&](TNetComponent* s, TWorkMode m, int64_t max) {
        if (!FInBody || (FOffset > 0 && FBegun)) return; // a resume goes on from where the bar is
        FBegun = true;
        if (begin) begin(s, m, FOffset > 0 && max > 0 ? FOffset + max : max);
    };
    FHttp.OnWork = [&](TNetComponent* s, TWorkMode m, int64_t count) {
        if (FInBody && work) work(s, m, FOffset + count);
    };
    FHttp.OnWorkEnd = [&](TNetComponent* s, TWorkMode) { sender = s; }; // passed on once the file is whole
    FHttp.OnResponseHead = [&](TNetHTTPResponse& r) { AcceptHead(r, file); };

    in_any_case(
        [&] {
            int64_t best = 0;
            int without_progress = 0;
            Clock::time_point last_progress = Clock::now();
            for (int number = 1;; ++number) {
                FOffset = FResumable ? file.Size() : 0;
                if (FOffset == 0) file.SetSize(0);
                file.SetPosition(FOffset);
                TNetHeaderList& headers = FHttp.Request().CustomHeaders;
                headers = custom;
                headers.SetValue("Range", FOffset > 0 ? "bytes=" + std::to_string(FOffset) + "-" : "");
                headers.SetValue("If-Range", FOffset > 0 ? FValidator : "");
                FHttp.Request().AcceptEncoding = "identity";
                FHttp.MaxBodyBytes = ExpectedSize >= 0 ? ExpectedSize - FOffset : max_body;
                FInBody = false;
                std::exception_ptr error;
                try {
                    FHttp.Get(url, &file);
                    if (FTotal >= 0 && file.Size() != FTotal)
                        throw ENetResumeMismatch("The file is " + std::to_string(file.Size()) +
                                                 " bytes, not the announced " + std::to_string(FTotal) + ".");
                } catch (...) {
                    error = std::current_exception();
                }
                FInBody = false;
                if (!error) return finish();
                // The next try gets a connection of its own: one kept after an
                // error answer may be closed by the server while we wait.
                FHttp.Disconnect();
                if (!IsTransientNetError(error)) {
                    finish();
                    std::rethrow_exception(error);
                }
                const int64_t size = file.Size();
                const int64_t progress = size > best ? size - best : 0;
                if (progress > 0) {
                    best = size;
                    without_progress = 0;
                    last_progress = Clock::now();
                } else {
                    ++without_progress;
                }
                const bool give_up =
                    without_progress >= FPolicy.TriesWithoutProgress ||
                    Clock::now() - last_progress >= std::chrono::milliseconds(FPolicy.TimeWithoutProgressMs);
                TNetDownloadTry t;
                t.Number = number;
                t.WithoutProgress = without_progress;
                t.Cause = message_of(error);
                t.Kept = FResumable ? size : 0;
                t.WaitMs = give_up ? -1 : NextWait(without_progress, progress, error);
                if (OnTry) OnTry(t);
                if (give_up) {
                    finish();
                    std::rethrow_exception(error);
                }
                Wait(t.WaitMs);
            }
        },
        [&] {
            FHttp.OnWorkBegin = begin;
            FHttp.OnWork = work;
            FHttp.OnWorkEnd = end;
            FHttp.OnResponseHead = head;
            FHttp.MaxBodyBytes = max_body;
            FHttp.Request().AcceptEncoding = accept_encoding;
            FHttp.Request().CustomHeaders = custom;
        });
}

} // namespace kv
