// Test helpers around the stand-in program (support/programs): scratch
// folders, copies of the stand-in under the product's file names, and its log.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kv::test {

// UTF-8 text of a path, and a path from UTF-8 text.
std::string utf8(const std::filesystem::path& p);
std::filesystem::path from_utf8(const std::string& s);

// A fresh empty folder under the temporary folder, removed with the object.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return FPath; }
    std::string str() const { return utf8(FPath); }

private:
    std::filesystem::path FPath;
};

// The stand-in program built next to the test executables.
std::filesystem::path fake_program_path();
// Copies the stand-in into `dir` as `file_name`; returns the copy's path. Its
// log is `dir`/programs.log unless KV_FAKE_PROGRAM_LOG names another file.
std::filesystem::path install_fake_program(const std::filesystem::path& dir, const std::string& file_name);

struct ProgramEvent {
    std::string event; // "start", "cwd", "end" or "unstoppable"
    std::string name;  // the program's own file name
    uint32_t pid = 0;
    std::string detail; // the working directory of a "cwd" line
};
std::vector<ProgramEvent> read_program_log(const std::filesystem::path& log);
// The ids of the "start" lines of `name`, in log order.
std::vector<uint32_t> started_ids(const std::filesystem::path& log, const std::string& name);

// Polls `condition` every 10 ms until it holds or `timeout` has passed.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Whether the system lists a process with this id and program file name.
bool process_running(uint32_t pid, const std::string& exe_file);

} // namespace kv::test
