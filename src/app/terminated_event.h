// What a caller of KillProcessByName hears of each process it terminated:
// the program file name as the system lists it, and the process id. The
// window holds one, which records the stopped programs in the run log.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace kv {

using TerminatedEvent = std::function<void(std::string_view ExeFile, uint32_t ProcessId)>;

} // namespace kv
