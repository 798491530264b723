// One pass over a text timed inside the process, for the benchmarks that
// call kvtool with --count: the pass's own time without start-up, reading or
// printing, as wall clock and as CPU time (on a shared machine the wall time
// also measures the neighbours).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace kv::tool {

// Runs `pass`, which returns how many items it found, and prints
// {"bytes": ..., <what>: ..., "seconds": ..., "cpu_seconds": ...}. Returns 0.
int print_timed_pass(int64_t bytes, std::string_view what, const std::function<int64_t()>& pass);

} // namespace kv::tool
