// Stopping the product's programs by file name, and starting a program, on
// real processes: copies of the stand-in program under the product's names.
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/program_start.h"
#include "support/fake_programs.h"
#include "workflow/task_killer.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace kv;

namespace {

class Programs : public ::testing::Test {
protected:
    // Starts the stand-in under `name` the way the update restarts the
    // product, and returns the ids of all its instances started so far.
    std::vector<uint32_t> start(const std::string& name, size_t instances = 1) {
        std::filesystem::path exe = test::install_fake_program(dir.path(), name);
        installed.push_back(exe);
        size_t before = test::started_ids(log(), name).size();
        for (size_t i = 0; i < instances; ++i)
            EXPECT_TRUE(os::start_program(test::utf8(exe)));
        EXPECT_TRUE(test::wait_until([&] {
            return test::started_ids(log(), name).size() == before + instances;
        })) << name
            << " did not start";
        std::vector<uint32_t> ids = test::started_ids(log(), name);
        for (uint32_t id : ids)
            started.push_back({id, name});
        return ids;
    }

    bool gone(const std::vector<uint32_t>& ids, const std::string& name) {
        return test::wait_until([&] {
            return std::none_of(ids.begin(), ids.end(),
                                [&](uint32_t id) { return test::process_running(id, name); });
        });
    }

    std::filesystem::path log() const { return dir.path() / "programs.log"; }

    void TearDown() override {
        // Only what still runs under its name: an id may have been reused.
        for (const auto& [id, name] : started)
            if (test::process_running(id, name)) os::terminate_process(id);
        // An instance that never logged its start is not in `started`; left
        // running it would keep the test runner's output pipe open (Wine
        // hands it the console's handles).
        if (auto all = os::list_processes())
            for (const std::filesystem::path& exe : installed)
                for (const os::ProcessEntry& p : *all)
                    if (p.exe_file == test::utf8(exe.filename())) os::terminate_process(p.id);
    }

    test::ScratchDir dir{"programs"};
    std::vector<std::pair<uint32_t, std::string>> started;
    std::vector<std::filesystem::path> installed;
};

TEST_F(Programs, EveryInstanceIsTerminatedAndCapitalsMatch) {
    std::vector<uint32_t> ids = start("kvbck.exe", 2);
    ASSERT_EQ(ids.size(), 2u);
    for (uint32_t id : ids)
        ASSERT_TRUE(test::process_running(id, "kvbck.exe"));

    EXPECT_EQ(KillProcessByName("KVBCK.EXE"), 1);
    // Gone when it returns: the update replaces the program's file next.
    for (uint32_t id : ids)
        EXPECT_FALSE(test::process_running(id, "kvbck.exe"));
    EXPECT_EQ(KillProcessByName("kvbck.exe"), 0) << "nothing left to terminate";
    // Terminated, not asked to end: no instance wrote its "end" line.
    for (const test::ProgramEvent& e : test::read_program_log(log()))
        EXPECT_NE(e.event, "end");
}

TEST_F(Programs, NearNamesAreNotMatched) {
    struct Near {
        const char* running;
        const char* asked; // must not match
        const char* exact; // same name, folded only in a-z: matches
    };
    const Near table[] = {
        {"dorvika.exe", "dorvika", "DORVIKA.EXE"},                      // a prefix of the name
        {"kuventoCMX.exe", "kuvento.exe", "kuventocmx.exe"},            // another program
        {"telvanoş.exe", "TELVANOŞ.EXE", "TELVANOş.EXE"},               // ş and Ş are not folded
        {"kuvento\xC4\xB1.exe", "KUVENTOI.EXE", "KUVENTO\xC4\xB1.EXE"}, // nor ı and I
    };
    for (const Near& n : table) {
        SCOPED_TRACE(n.running);
        std::vector<uint32_t> ids = start(n.running);
        ASSERT_EQ(ids.size(), 1u);
        EXPECT_EQ(KillProcessByName(n.asked), 0);
        EXPECT_TRUE(test::process_running(ids[0], n.running));
        EXPECT_EQ(KillProcessByName(n.exact), 1);
        EXPECT_FALSE(test::process_running(ids[0], n.running));
    }
}

TEST(ProcessName, MatchesTheWholeNameOrThePartAfterTheLastSeparator) {
    struct Row {
        const char* listed;
        const char* asked;
        bool matches;
    };
    const Row rows[] = {
        {"kuvento.exe", "kuvento.exe", true},
        {"KuVeNtO.ExE", "kuvento.exe", true},
        {"C:\\Kuvento\\kuvento.exe", "kuvento.exe", true},
        {"C:kuvento.exe", "KUVENTO.EXE", true},
        {"C:\\Kuvento\\kuvento.exe", "C:\\KUVENTO\\KUVENTO.EXE", true},
        {"C:\\Kuvento\\kuvento.exe", "Kuvento\\kuvento.exe", false},
        {"kuvento.exe", "kuvento.ex", false},
        {"kuvento.exe ", "kuvento.exe", false},
        {"xkuvento.exe", "kuvento.exe", false},
        {"", "kuvento.exe", false},
        {"İ.exe", "i.exe", false},
        {"ä.exe", "Ä.exe", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ProcessNameMatches(r.listed, r.asked), r.matches) << r.listed << " / " << r.asked;
}

TEST_F(Programs, StartedProgramRunsInTheWorkingDirectory) {
    test::ScratchDir site("site");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(site.path());
    // The update forms the path with "\" after the working directory.
    test::install_fake_program(dir.path(), "kuventoCMX.exe");
    bool ok = os::start_program(test::utf8(dir.path()) + "\\kuventoCMX.exe");
    std::filesystem::current_path(previous);
    ASSERT_TRUE(ok);
    // The program writes its "start" line first and its "cwd" line after it.
    auto is_cwd = [](const test::ProgramEvent& e) { return e.event == "cwd"; };
    std::vector<test::ProgramEvent> events;
    ASSERT_TRUE(test::wait_until([&] {
        events = test::read_program_log(log());
        return std::any_of(events.begin(), events.end(), is_cwd);
    }));
    ASSERT_EQ(test::started_ids(log(), "kuventoCMX.exe").size(), 1u);
    started.push_back({events.front().pid, "kuventoCMX.exe"});
    auto cwd = std::find_if(events.begin(), events.end(), is_cwd);
    EXPECT_TRUE(std::filesystem::equivalent(test::from_utf8(cwd->detail), site.path())) << cwd->detail;
    // Ended before its working directory is removed.
    EXPECT_TRUE(os::terminate_process(events.front().pid));
    EXPECT_TRUE(gone({events.front().pid}, "kuventoCMX.exe"));
}

TEST(ProgramStart, MissingFileIsReported) {
    test::ScratchDir dir("start");
    EXPECT_FALSE(os::start_program(dir.str() + "\\yok.exe"));
}

} // namespace
