// TaskKiller: the walk over the process list, the name rule, and the pause and
// repaint after a termination.
#include "workflow/task_killer.h"

#include "platform/processes.h"
#include "rtl/text.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace kv {

bool ProcessNameMatches(std::string_view ExeFile, std::string_view ExeFileName) {
    // UTF-8 bytes are equal exactly when the UTF-16 code units are, and
    // folding a-z byte by byte touches no other character.
    auto cut = ExeFile.find_last_of("\\:");
    std::string_view part = cut == std::string_view::npos ? ExeFile : ExeFile.substr(cut + 1);
    return same_text_ascii_fold(part, ExeFileName) || same_text_ascii_fold(ExeFile, ExeFileName);
}

int KillProcessByName(std::string_view ExeFileName, const TerminatedEvent& OnTerminated) {
    int result = 0;
    bool terminated = false;
    auto processes = os::list_processes();
    if (!processes) return 0;
    std::vector<uint32_t> ended;
    for (const os::ProcessEntry& p : *processes) {
        if (!ProcessNameMatches(p.exe_file, ExeFileName)) continue;
        if (os::terminate_process(p.id)) {
            result = 1;
            terminated = true;
            ended.push_back(p.id);
            if (OnTerminated) OnTerminated(p.exe_file, p.id);
        }
    }
    // Termination takes effect asynchronously, and the callers replace the
    // program's file right after: wait (bounded) until the processes are
    // gone, so the file is free when this returns.
    const auto deadline = std::chrono::steady_clock::now() + TerminationWait;
    for (uint32_t id : ended) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        os::wait_process_end(id, static_cast<uint32_t>(std::max<int64_t>(left.count(), 0)));
    }
    if (terminated) {
        std::this_thread::sleep_for(TerminationPause);
        os::repaint_notification_area();
    }
    return result;
}

} // namespace kv
