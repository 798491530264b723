// Running processes of this machine, as the process termination step needs
// them: a snapshot with each process's program file name, termination, and
// the repaint of the taskbar's notification area that follows it on Windows.
//
// Names are UTF-8. Nothing here throws; failures show in the results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::os {

struct ProcessEntry {
    uint32_t id = 0;
    // The program file name as the system reports it. Windows: the Toolhelp
    // entry's szExeFile. Linux: the file name of the process's executable
    // (not the 15-character command name), without a " (deleted)" suffix
    // when the file was replaced while the program runs.
    std::string exe_file;
};

// Every process the system lists, or nullopt when no snapshot can be taken.
// Linux lists the processes whose executable this user may see; the others
// (kernel threads, other users' processes) could not be terminated anyway.
std::optional<std::vector<ProcessEntry>> list_processes();

// Ends the process at once (Windows: TerminateProcess with exit code 0;
// Linux: SIGKILL). false when it cannot be opened or terminated. The end
// takes effect asynchronously.
bool terminate_process(uint32_t id);

// Waits until the process has ended, so that its program file is no longer in
// use, for at most `timeout_ms`. true when it has ended (or is not there).
bool wait_process_end(uint32_t id, uint32_t timeout_ms);

// Asks the taskbar's notification area to repaint itself, so the icons of
// terminated programs disappear. Linux has no such area: nothing to do.
void repaint_notification_area();

// The calling process's id.
uint32_t current_process_id();

} // namespace kv::os
