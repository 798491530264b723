// TNetDownload: one file fetched whole over a line that may drop, through a
// TNetHTTP. A body cut after some bytes is asked for again from where it was
// cut ("Range" with "If-Range" on the first answer's strong validator), and
// only a 206 that continues exactly there, of the same whole, is appended;
// anything else starts the file again from zero, so a file that changed on
// the server between tries is never spliced. Transient failures are tried
// again after a wait, within a bound on tries and on time without progress.
//
// The work events of the component are mapped onto the whole file while it
// runs: a resumed try goes on from the count it had (no new begin), and the
// events of an error answer's body are not passed on.
#pragma once

#include "http/net_http.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace kv {

class TStream;

struct TNetRetryPolicy {
    int FirstWaitMs = 1000; // doubled after each try without progress
    int MaxWaitMs = 30000;
    int JitterMs = 1000; // a random part up to this is added to each wait
    // A try that brought the file at least this much further is tried again
    // at once: the line works, and a wait would only cost time. A try with
    // less progress waits as the first wait, so that a server that cuts
    // after a few bytes does not draw a storm of requests.
    int64_t NoWaitProgressBytes = 64 * 1024;
    int RetryAfterMaxMs = 60000;
    int TriesWithoutProgress = 5;
    int64_t TimeWithoutProgressMs = 600000;
};

// A failed try, as reported to OnTry.
struct TNetDownloadTry {
    int Number = 0;          // of the whole download, from 1
    int WithoutProgress = 0; // tries in a row that brought the file no further, this one included
    std::string Cause;       // the error's message
    int64_t Kept = 0;        // bytes of the file kept for the next try
    int WaitMs = -1;         // before the next try; -1: given up, the error leaves Get
};

// Whether a failure is worth another try: a refused or reset connection, a
// time-out, a close before the end, 408, 429, 500, 502, 503 and 504.
bool IsTransientNetError(std::exception_ptr error);

class TNetDownload {
public:
    explicit TNetDownload(TNetHTTP& http, TNetRetryPolicy policy = {});

    // The size the file must have (a signed release's listed size), or -1.
    // With it, a Content-Length that differs is refused before the body is
    // read, and no more bytes than this are written.
    int64_t ExpectedSize = -1;
    // Called after each failed try, before the wait.
    std::function<void(const TNetDownloadTry&)> OnTry;
    // Waits between tries; the default sleeps. A window pumps its events here.
    std::function<void(int ms)> Wait;

    // Fetches url into file from its start, whole; raises the error of the
    // last try when it gives up, and at once for an error not worth another
    // try (ENetBodyLengthRefused, 404, 403, ...). After an error the file
    // holds what the last try kept.
    void Get(const std::string& url, TStream& file);

private:
    void AcceptHead(TNetHTTPResponse& response, TStream& file);
    int NextWait(int without_progress, int64_t progress, std::exception_ptr error);

    TNetHTTP& FHttp;
    TNetRetryPolicy FPolicy;
    // Of the first whole answer: what a resume must match.
    int64_t FTotal = -1;
    std::string FValidator, FValidatorField;
    bool FResumable = false;
    int64_t FOffset = 0;  // where the current try writes from
    bool FInBody = false; // the current try's success body has begun
    bool FBegun = false;  // a begin event was passed on
};

} // namespace kv
