// The --count timing shared by kvtool lex and kvtool sql-split.
#include "tools/timed_pass.h"

#include "tools/json.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace kv::tool {

int print_timed_pass(int64_t bytes, std::string_view what, const std::function<int64_t()>& pass) {
    const auto started = std::chrono::steady_clock::now();
    const std::clock_t cpu_started = std::clock();
    const int64_t count = pass();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const double cpu = static_cast<double>(std::clock() - cpu_started) / CLOCKS_PER_SEC;
    char seconds[32], cpu_seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", took.count());
    std::snprintf(cpu_seconds, sizeof cpu_seconds, "%.6f", cpu);
    print_json({{"bytes", bytes},
                {std::string(what), count},
                {"seconds", Json::parse(seconds)},
                {"cpu_seconds", Json::parse(cpu_seconds)}});
    return 0;
}

} // namespace kv::tool
