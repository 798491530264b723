// Processes on Linux: a started program is detached from the updater (its own
// session, not our child, no terminal, none of our descriptors), and a
// program whose file was replaced while it runs is still found by its name.
#include "platform/processes.h"
#include "platform/program_start.h"
#include "support/fake_programs.h"
#include "workflow/task_killer.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using namespace kv;

namespace {

struct Stat {
    long ppid = 0;
    long session = 0;
};

// Fields 4 and 6 of /proc/PID/stat, read after the command name's ")".
Stat stat_of(uint32_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    std::istringstream rest(all.substr(all.rfind(')') + 2));
    char state;
    long pgrp;
    Stat s;
    rest >> state >> s.ppid >> pgrp >> s.session;
    return s;
}

TEST(ProgramStartLinux, TheProgramIsDetached) {
    test::ScratchDir dir("detached");
    std::filesystem::path exe = test::install_fake_program(dir.path(), "kuvento.exe");
    int leaked = ::open("/dev/null", O_RDONLY); // no close-on-exec
    ASSERT_GE(leaked, 3);
    bool ok = os::start_program(test::utf8(exe));
    ::close(leaked);
    ASSERT_TRUE(ok);
    std::filesystem::path log = dir.path() / "programs.log";
    ASSERT_TRUE(test::wait_until([&] { return test::started_ids(log, "kuvento.exe").size() == 1; }));
    uint32_t pid = test::started_ids(log, "kuvento.exe")[0];

    Stat s = stat_of(pid);
    EXPECT_NE(s.ppid, static_cast<long>(::getpid()));
    EXPECT_NE(s.session, static_cast<long>(::getsid(0)));
    std::vector<std::string> fds;
    for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        fds.push_back(e.path().filename().string() + " " + std::filesystem::read_symlink(e.path()).string());
    std::sort(fds.begin(), fds.end());
    EXPECT_EQ(fds, (std::vector<std::string>{"0 /dev/null", "1 /dev/null", "2 /dev/null"}));
    EXPECT_TRUE(os::terminate_process(pid));
}

TEST(ProcessesLinux, ARunningProgramWhoseFileWasReplacedIsStillFound) {
    test::ScratchDir dir("replaced");
    std::filesystem::path exe = test::install_fake_program(dir.path(), "telvano.exe");
    ASSERT_TRUE(os::start_program(test::utf8(exe)));
    std::filesystem::path log = dir.path() / "programs.log";
    ASSERT_TRUE(test::wait_until([&] { return test::started_ids(log, "telvano.exe").size() == 1; }));
    uint32_t pid = test::started_ids(log, "telvano.exe")[0];
    std::filesystem::remove(exe); // the kernel now names it ".../telvano.exe (deleted)"
    EXPECT_TRUE(test::process_running(pid, "telvano.exe"));
    EXPECT_EQ(KillProcessByName("telvano.exe"), 1);
    EXPECT_FALSE(test::process_running(pid, "telvano.exe"));
}

} // namespace
