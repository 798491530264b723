// kvtool get: downloads URLs into files through one TNetHTTP, each as the
// updater's download does it (a new file, the body written as it arrives, a
// cut body resumed and a transient failure tried again within the same
// bounds), printing one JSON line per request, one per failed try and, with
// --events, one per work event, so that a technician can try a site's line.
#include "http/net_download.h"
#include "http/net_http.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"
#include "tools/command.h"
#include "tools/json.h"

namespace kv::tool {
namespace {

int run_get(bool events, const std::vector<std::string>& pairs) {
    TNetHTTP http;
    if (events) {
        http.OnWorkBegin = [](TNetComponent*, TWorkMode, int64_t max) {
            print_json({{"event", "begin"}, {"max", max}});
        };
        http.OnWork = [](TNetComponent*, TWorkMode, int64_t count) {
            print_json({{"event", "work"}, {"count", count}});
        };
        http.OnWorkEnd = [](TNetComponent*, TWorkMode) { print_json({{"event", "end"}}); };
    }
    try {
        for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
            TFileStream file(pairs[i + 1], fmCreate);
            TNetDownload download(http);
            download.OnTry = [](const TNetDownloadTry& t) {
                print_json({{"try", t.Number},
                            {"error", t.Cause},
                            {"kept", t.Kept},
                            {"without_progress", t.WithoutProgress},
                            {"wait_ms", t.WaitMs}});
            };
            download.Get(pairs[i], file);
            print_json(
                {{"status", http.ResponseCode()}, {"text", http.ResponseText()}, {"bytes", file.Size()}});
        }
    } catch (...) {
        print_error_json(std::current_exception());
        return 1;
    }
    return 0;
}

Runner cmd_get(CLI::App& command) {
    auto events = std::make_shared<bool>(false);
    auto pairs = std::make_shared<std::vector<std::string>>();
    command.add_flag("--events", *events, "Print every transfer event too");
    command.add_option("URL FILE", *pairs, "Each URL and the file its body goes to")
        ->required()
        ->expected(2, -1);
    command.callback([pairs] {
        if (pairs->size() % 2 != 0) throw CLI::ValidationError("URL FILE", "every URL needs a FILE");
    });
    return [events, pairs] { return run_get(*events, *pairs); };
}

} // namespace

KVTOOL_COMMAND("get", "Download URLs into files as the updater's download does", cmd_get);

} // namespace kv::tool
