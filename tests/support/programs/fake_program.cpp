// A stand-in for the product's programs. Tests copy it under the product's
// file names (kuvento.exe, kuventoCMX.exe, telvano.exe, ...) and start it;
// from its log they see which programs ran, where, and in which order.
//
// Log: the file named by KV_FAKE_PROGRAM_LOG, otherwise "programs.log" next to
// the program. Lines, each with the program's own file name and process id:
//   start <name> <pid>
//   cwd <name> <pid> <working directory>
//   end <name> <pid>          (on SIGTERM, Ctrl+C or the normal end)
//   unstoppable <name> <pid>  (with KV_FAKE_PROGRAM_UNSTOPPABLE=1, once no
//                             other process may terminate it; Windows only)
// It runs until it is killed, or for KV_FAKE_PROGRAM_LIFETIME_MS milliseconds.
#include "platform/files.h"
#include "platform/library.h"
#include "platform/processes.h"
#include "termination.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void on_signal(int) {
    g_stop = true;
}

std::string own_file_name() {
    std::string path = kv::os::program_path();
    auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string log_path() {
    if (const char* p = std::getenv("KV_FAKE_PROGRAM_LOG"); p && *p) return p;
    std::string dir = kv::os::program_directory();
    char sep = dir.find('\\') != std::string::npos ? '\\' : '/';
    return dir + sep + "programs.log";
}

// One write per line, appended, so that instances running at once do not mix
// their lines.
void log_line(const std::string& line) {
    // Another instance may hold the file for a moment (Windows shares it
    // only so far): try again rather than lose the line.
    std::FILE* f = nullptr;
    for (int attempt = 0; attempt < 50 && !(f = std::fopen(log_path().c_str(), "ab")); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (f) {
        std::string text = line + "\n";
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

} // namespace

int main() {
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
    const std::string tag = own_file_name() + " " + std::to_string(kv::os::current_process_id());
    log_line("start " + tag);
    log_line("cwd " + tag + " " + kv::os::current_directory());
    if (const char* v = std::getenv("KV_FAKE_PROGRAM_UNSTOPPABLE"); v && std::string(v) == "1")
        if (kv::test::refuse_termination()) log_line("unstoppable " + tag);

    long lifetime_ms = -1;
    if (const char* v = std::getenv("KV_FAKE_PROGRAM_LIFETIME_MS")) lifetime_ms = std::atol(v);
    const auto started = std::chrono::steady_clock::now();
    while (!g_stop) {
        if (lifetime_ms >= 0 &&
            std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(lifetime_ms))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    log_line("end " + tag);
    return 0;
}
