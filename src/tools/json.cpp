// kvtool's JSON lines.
#include "tools/json.h"

#include "rtl/exception.h"

#include <cstdio>

namespace kv::tool {

std::string json_line(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void print_json(const Json& value) {
    const std::string line = json_line(value) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void print_error_json(std::exception_ptr e) {
    const ErrorInfo info = describe_exception(e);
    print_json({{"error", info.message}, {"class", info.class_name}});
}

} // namespace kv::tool
