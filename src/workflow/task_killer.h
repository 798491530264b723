// TaskKiller: stops every running process of one program before the update
// deletes or replaces that program's files.
#pragma once

#include "app/terminated_event.h"

#include <chrono>
#include <cstdint>
#include <string_view>

namespace kv {

// How long KillProcessByName waits in all for terminated processes to end.
inline constexpr std::chrono::milliseconds TerminationWait{5000};
// The pause after the wait, before the notification area is repainted.
inline constexpr std::chrono::milliseconds TerminationPause{30};

// Terminates every process whose program file name equals `ExeFileName`
// (a file name such as "kuvento.exe", no folder). Only the letters a-z are
// taken as A-Z; every other character must match exactly. Returns 1 when at
// least one process was terminated, otherwise 0. After a termination it waits
// until the terminated processes are gone (at most TerminationWait), then
// pauses TerminationPause and has the taskbar's notification area repainted, so the
// program's file can be replaced when it returns. Never throws.
// `OnTerminated`, when given, hears of each process terminated (its program
// file name as listed, and its id).
int KillProcessByName(std::string_view ExeFileName, const TerminatedEvent& OnTerminated = {});

// The matching rule on its own: `ExeFile` is a process's program file name
// as the system lists it; its part after the last "\" or ":" or the whole
// of it must equal `ExeFileName`.
bool ProcessNameMatches(std::string_view ExeFile, std::string_view ExeFileName);

} // namespace kv
