// Processes on Linux: /proc for the list, SIGKILL for termination.
#include "platform/processes.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace kv::os {
namespace {

// The file name of /proc/PID/exe's target; empty when it cannot be read
// (kernel threads, zombies, other users' processes).
std::string exe_file_name(const std::string& pid) {
    std::string link = "/proc/" + pid + "/exe";
    std::string buf(4096, '\0');
    ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return {};
    buf.resize(static_cast<size_t>(n));
    // The kernel marks an executable replaced or removed while it runs; the
    // process is still that program.
    constexpr std::string_view deleted = " (deleted)";
    if (buf.size() > deleted.size() && buf.ends_with(deleted)) buf.resize(buf.size() - deleted.size());
    auto slash = buf.rfind('/');
    return slash == std::string::npos ? buf : buf.substr(slash + 1);
}

} // namespace

std::optional<std::vector<ProcessEntry>> list_processes() {
    DIR* d = ::opendir("/proc");
    if (!d) return std::nullopt;
    std::vector<ProcessEntry> out;
    while (dirent* e = ::readdir(d)) {
        std::string_view name(e->d_name);
        uint32_t id = 0;
        auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), id);
        if (ec != std::errc() || end != name.data() + name.size() || id == 0) continue;
        std::string exe = exe_file_name(std::string(name));
        if (!exe.empty()) out.push_back({id, std::move(exe)});
    }
    ::closedir(d);
    return out;
}

bool terminate_process(uint32_t id) {
    if (id == 0 || id > static_cast<uint32_t>(INT32_MAX)) {
        errno = EINVAL;
        return false;
    }
    return ::kill(static_cast<pid_t>(id), SIGKILL) == 0;
}

bool wait_process_end(uint32_t id, uint32_t timeout_ms) {
    // A zombie has released its program file and memory: only its exit
    // status waits for a parent that may never collect it.
    // Read with the system calls: a process reaped between the open and the
    // read fails the read (ESRCH), which a file stream would throw as an
    // exception of its own. The state follows the name in parentheses, early
    // in the line (a name is at most 15 bytes).
    auto ended = [&] {
        const std::string path = "/proc/" + std::to_string(id) + "/stat";
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return true;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        ::close(fd);
        if (n <= 0) return true;
        const std::string_view all(buf, static_cast<size_t>(n));
        auto close = all.rfind(')');
        return close == std::string_view::npos || close + 2 >= all.size() || all[close + 2] == 'Z' ||
               all[close + 2] == 'X';
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!ended()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void repaint_notification_area() {}

uint32_t current_process_id() {
    return static_cast<uint32_t>(::getpid());
}

} // namespace kv::os
