// TaskKiller: stops every running process of one program before the update
// deletes or replaces that program's files.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

namespace kv {

// How long KillProcessByName waits in all for terminated processes to end.
inline constexpr std::chrono::milliseconds TerminationWait{5000};

// Terminates every process whose program file name equals `ExeFileName`
// (a file name such as "kuvento.exe", no folder). Only the letters a-z are
// taken as A-Z; every other character must match exactly. Returns 1 when at
// least one process was terminated, otherwise 0. After a termination it waits
// until the terminated processes are gone (at most TerminationWait), then
// pauses 30 ms and has the taskbar's notification area repainted, so the
// program's file can be replaced when it returns. Never throws.
// `OnTerminated`, when given, hears of each process terminated (its program
// file name as listed, and its id).
using TerminatedEvent = std::function<void(std::string_view ExeFile, uint32_t ProcessId)>;
int KillProcessByName(std::string_view ExeFileName, const TerminatedEvent& OnTerminated = {});

// The matching rule on its own: `ExeFile` is a process's program file name
// as the system lists it; its part after the last "\" or ":" or the whole
// of it must equal `ExeFileName`.
bool ProcessNameMatches(std::string_view ExeFile, std::string_view ExeFileName);

} // namespace kv
