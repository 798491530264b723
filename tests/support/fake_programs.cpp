// Test helpers around the stand-in program: see fake_programs.h.
#include "fake_programs.h"

#include "platform/library.h"
#include "platform/processes.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace kv::test {

std::string utf8(const std::filesystem::path& p) {
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::filesystem::path from_utf8(const std::string& s) {
    return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

ScratchDir::ScratchDir(const std::string& tag) {
    // Process ids repeat across process namespaces (a test run in one of its
    // own is always process 1 or 2), so the name also takes a random part,
    // and a folder that exists already, another run's, is never taken over.
    static std::atomic<int> counter{0};
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    do {
        FPath = base / ("kv-" + tag + "-" + std::to_string(os::current_process_id()) + "-" +
                        std::to_string(counter++) + "-" + std::to_string(random() % 1000000));
    } while (!std::filesystem::create_directory(FPath));
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

std::filesystem::path fake_program_path() {
    std::filesystem::path self = from_utf8(os::program_path());
    return self.parent_path() / ("kv_fake_program" + self.extension().string());
}

std::filesystem::path install_fake_program(const std::filesystem::path& dir, const std::string& file_name) {
    std::filesystem::path target = dir / from_utf8(file_name);
    std::filesystem::copy_file(fake_program_path(), target,
                               std::filesystem::copy_options::overwrite_existing);
    return target;
}

std::vector<ProgramEvent> read_program_log(const std::filesystem::path& log) {
    std::vector<ProgramEvent> out;
    std::ifstream in(log, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        ProgramEvent e;
        fields >> e.event >> e.name >> e.pid;
        if (!fields) continue;
        std::getline(fields >> std::ws, e.detail);
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<uint32_t> started_ids(const std::filesystem::path& log, const std::string& name) {
    std::vector<uint32_t> ids;
    for (const ProgramEvent& e : read_program_log(log))
        if (e.event == "start" && e.name == name) ids.push_back(e.pid);
    return ids;
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool process_running(uint32_t pid, const std::string& exe_file) {
    auto list = os::list_processes();
    if (!list) return false;
    for (const os::ProcessEntry& p : *list)
        if (p.id == pid && p.exe_file == exe_file) return true;
    return false;
}

} // namespace kv::test
