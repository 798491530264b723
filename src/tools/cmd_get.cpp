// kvtool get: downloads URLs into files through one TNetHTTP, each as the
// updater's download does it (a new file, the body written as it arrives),
// printing one JSON line per request and, with --events, per work event.
#include "http/net_http.h"
#include "rtl/in_any_case.h"
#include "rtl/stream.h"
#include "tools/command.h"
#include "tools/json.h"

namespace kv::tool {
namespace {

int cmd_get(const Args& args) {
    bool events = !args.empty() && args[0] == "--events";
    size_t first = events ? 1 : 0;
    if (args.size() <= first || (args.size() - first) % 2 != 0) return usage_error();
    TNetHTTP http;
    if (events) {
        http.OnWorkBegin = [](TNetComponent*, TWorkMode, int64_t max) {
            JsonObject().add("event", "begin").add("max", max).print();
        };
        http.OnWork = [](TNetComponent*, TWorkMode, int64_t count) {
            JsonObject().add("event", "work").add("count", count).print();
        };
        http.OnWorkEnd = [](TNetComponent*, TWorkMode) { JsonObject().add("event", "end").print(); };
    }
    try {
        for (size_t i = first; i < args.size(); i += 2) {
            TFileStream file(args[i + 1], fmCreate);
            http.Get(args[i], &file);
            JsonObject()
                .add("status", http.ResponseCode())
                .add("text", http.ResponseText())
                .add("bytes", file.Size())
                .print();
        }
    } catch (...) {
        print_error_json(std::current_exception());
        return 1;
    }
    return 0;
}

} // namespace

KVTOOL_COMMAND("get", "[--events] URL FILE [URL FILE ...]", cmd_get);

} // namespace kv::tool
