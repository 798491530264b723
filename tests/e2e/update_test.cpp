// The whole update as a site operator runs it: the real updater in a real
// site folder, driven through its window, checked from outside — the
// database, the files in the program folder, the product's programs, the
// update and report folders, and how the updater ends. Screenshots of every
// stage are kept in the build tree under tests/e2e/artifacts/<scenario>.
#include "e2e_operator.h"
#include "e2e_site.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kv::test::e2e {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path artifacts() {
    fs::path dir =
        fs::path(KV_E2E_ARTIFACTS) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    return dir;
}

// What the tests build around one run (e2e_site.h), and how the product is
// seen started again on Linux.
struct Scenario : UpdateScenario {
    explicit Scenario(const std::string& tag) : UpdateScenario(tag) {}

    // After the update: the console program, then the product, both started
    // from the site folder, and nothing else.
    void expect_restarted(size_t log_before) {
        std::vector<ProgramEvent> starts = site.starts_after(log_before);
        ASSERT_EQ(starts.size(), 2u);
        // Two programs started one after the other may write their lines in
        // either order, but the system hands out process ids in rising order
        // (in the test's own process namespace, from 1 on).
        std::sort(starts.begin(), starts.end(),
                  [](const ProgramEvent& a, const ProgramEvent& b) { return a.pid < b.pid; });
        EXPECT_EQ(starts[0].name, kConsoleProgram);
        EXPECT_EQ(starts[1].name, "kuvento.exe");
        // Each line was written by the started program itself: it ran, from
        // the file now in place.
        for (const ProgramEvent& start : starts) {
            for (const ProgramEvent& e : site.program_log()) {
                if (e.event == "cwd" && e.pid == start.pid) {
                    EXPECT_TRUE(fs::equivalent(e.detail, site.dir()))
                        << start.name << " runs in " << e.detail;
                }
            }
        }
    }
};

TEST(Update, NormalUpdate) {
    Scenario s("normal");
    s.site.write_settings({});
    ASSERT_NE(s.site.upgrade_year(), "2027");
    fs::create_directories(s.site.update_dir());
    write_file((s.site.update_dir() / "eski.rar").string(), "left by an earlier run");
    std::map<std::string, uint32_t> running = s.site.start_programs();
    const size_t logged = s.site.program_log().size();

    UpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    run.click(StepButton::Start);
    EXPECT_EQ(run.wait_exit(120s), 0);

    EXPECT_EQ(s.site.upgrade_year(), "2027");
    EXPECT_EQ(s.site.scalar(kUpgradeTables), "5");
    EXPECT_EQ(s.site.scalar("select count(*) from faturabilgi;"), "1");

    for (const std::string& name : kStoppedPrograms)
        EXPECT_FALSE(process_running(running[name], name)) << name << " was not stopped";
    EXPECT_TRUE(process_running(running[kConsoleProgram], kConsoleProgram))
        << "the console program is not stopped";
    s.expect_restarted(logged);
    s.expect_release_installed();

    for (const std::string& name : kCachedSettings)
        EXPECT_FALSE(s.site.exists(name)) << name;
    EXPECT_TRUE(s.site.exists("notlar.txt"));
    EXPECT_FALSE(fs::exists(s.site.update_dir() / "eski.rar")) << "the update folder was not reset";
    s.expect_downloads({"kuvento.rar", "telvano.rar", "report.rar", "dorvika.rar", "dll.rar"});
    EXPECT_EQ(read_file((s.site.update_dir() / "dll" / "midas.dll").string()),
              s.release.item("dll.rar", "midas.dll"));
}

// UPDATE_ADRES a symbolic link to the program folder: start-up refuses it
// with the notice, the whole update runs in the default folder, and the site
// keeps its database, settings, notes and reports.
TEST(Update, UpdateFolderLinkedToTheSite) {
    Scenario s("linked");
    fs::create_directory_symlink(s.site.dir(), s.site.dir() / "to-site");
    SiteSettingsText settings;
    settings.update_folder_name = "to-site";
    s.site.write_settings(settings);
    write_file((s.site.dir() / "Rapor" / "eski.fr3").string(), "a report of the site");

    UpdaterRun run(s.site.dir(), artifacts());
    Box notice = run.acknowledge_startup_box(60s);
    EXPECT_EQ(notice.text.rfind("UPDATE_ADRES kullanılmadı: ", 0), 0u) << notice.text;
    run.unlock();
    run.click(StepButton::Start);
    EXPECT_EQ(run.wait_exit(120s), 0);

    EXPECT_EQ(s.site.upgrade_year(), "2027");
    EXPECT_TRUE(s.site.exists("kvayarlar.ini"));
    EXPECT_TRUE(s.site.exists("notlar.txt"));
    EXPECT_TRUE(s.site.exists("Rapor/eski.fr3"));
    s.expect_release_installed();
    EXPECT_TRUE(fs::is_directory(s.site.dir() / "update" / "dll")) << "the default folder was not used";
}

TEST(Update, SecondRun) {
    Scenario s("second");
    s.site.write_settings({});
    s.site.start_programs();
    const fs::path shots = artifacts();
    {
        UpdaterRun first(s.site.dir(), shots / "first");
        first.unlock();
        first.click(StepButton::Start);
        ASSERT_EQ(first.wait_exit(120s), 0);
    }
    ASSERT_EQ(s.site.upgrade_year(), "2027");
    // The next release day: the product runs again, a settings file is back.
    write_file((s.site.dir() / "menu.txt").string(), "ayar\n");
    fs::remove(s.site.dir() / "kuvento.exe"); // still running from the first run
    install_fake_program(s.site.dir(), "kuvento.exe");
    const size_t logged = s.site.program_log().size();

    UpdaterRun run(s.site.dir(), shots / "second");
    run.unlock();
    run.click(StepButton::Start);
    Box notice = run.acknowledge_box();
    EXPECT_EQ(notice.caption, "kvupdate");
    EXPECT_EQ(notice.text, "2027 güncellemesi yapılmış. işlem iptal edilecek");
    EXPECT_EQ(run.wait_exit(120s), 0);

    EXPECT_EQ(s.site.scalar("select count(*) from faturabilgi;"), "1") << "the upgrade ran again";
    // The run log in the program folder holds both runs, each to its end.
    const std::string record = s.site.read("KVUpdate.log");
    EXPECT_EQ(record.find("year marker: before the database step: 2027"),
              record.rfind("year marker: before the database step: 2027"));
    for (const char* line :
         {"year marker: before the database step: 2026", "year marker: before the database step: 2027",
          "run ended: Güncelleme Başla: complete\r\n",
          "notice: 2027 güncellemesi yapılmış. işlem iptal edilecek\r\n"})
        EXPECT_NE(record.find(line), std::string::npos) << line;
    // The second run's package step went through after the notice: that run is complete too.
    const std::string second = record.substr(record.find("notice: 2027 güncellemesi yapılmış"));
    EXPECT_NE(second.find("run ended: Güncelleme Başla: complete\r\n"), std::string::npos) << second;
    EXPECT_EQ(record.find("silent abort"), std::string::npos);
    EXPECT_FALSE(s.site.exists("menu.txt"));
    s.expect_release_installed();
    s.expect_restarted(logged);
}

// The database server cannot be reached: the updater resolves "localhost" to
// an address where nothing listens (its own view of /etc/hosts), so the shared
// server stays up for the other tests while the client meets exactly what a
// stopped server gives it.
TEST(Update, DatabaseUnreachable) {
    Scenario s("nodb");
    s.site.write_settings({});
    const fs::path hosts = s.site.dir() / "hosts";
    write_file(hosts.string(), "127.0.0.2 localhost\n");
    const size_t logged = s.site.program_log().size();

    UpdaterRun run(s.site.dir(), artifacts(), hosts);
    run.unlock();
    run.click(StepButton::Start);
    Box error = run.acknowledge_box(120s);
    EXPECT_EQ(error.caption, "kvupdate");
    EXPECT_NE(error.text.find("Unable to complete network request to host \"localhost\""), std::string::npos)
        << error.text;
    // The package step ran in full before the error was shown, and asked for
    // the end: the updater ends once the box is closed.
    EXPECT_EQ(run.wait_exit(30s), 0);

    EXPECT_NE(s.site.upgrade_year(), "2027");
    s.expect_release_installed();
    s.expect_restarted(logged);
}

TEST(Update, MobilePackageMissing) {
    Scenario s("nomobile");
    s.site.write_settings({});
    s.server.remove("telvano.rar");
    std::map<std::string, uint32_t> running = s.site.start_programs();
    const size_t logged = s.site.program_log().size();

    UpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    run.click(StepButton::Start);
    // The download's status line is the error shown: the package it could
    // not fetch is not opened.
    Box error = run.acknowledge_box(120s);
    EXPECT_EQ(error.caption, "kvupdate");
    EXPECT_EQ(error.text, "HTTP/1.1 404 Not Found.");
    run.expect_open();
    std::vector<WindowControl> window = run.read_window();
    expect_steps_can_be_repeated(window);
    EXPECT_NE(control(window, kUpgradeLogLine), nullptr);
    EXPECT_NE(control(window, "Mobil ve Yedekleme Indiriliyor.."), nullptr)
        << "the status line of the failed phase";

    EXPECT_EQ(s.site.upgrade_year(), "2027");
    s.expect_program_replaced("kuvento.rar", "kuvento.exe");
    for (const char* name : {"telvano.exe", "kvbck.exe", "dorvika.exe"}) {
        s.expect_program_kept(name);
        EXPECT_FALSE(process_running(running[name], name)) << name;
    }
    EXPECT_FALSE(s.site.exists("report/satis.fr3")) << "the step went on after the missing package";
    EXPECT_FALSE(s.site.exists("midas.dll"));
    EXPECT_TRUE(s.site.starts_after(logged).empty()) << "nothing is started after a failed update";

    // The package is back: "Dosyaları İndir" finishes the update.
    s.server.put("telvano.rar", rar5_archive(s.release.packages.at("telvano.rar")));
    run.click(StepButton::Packages);
    EXPECT_EQ(run.wait_exit(120s), 0);
    s.expect_release_installed();
    s.expect_restarted(logged);
}

TEST(Update, DamagedProductPackage) {
    Scenario s("damaged");
    s.site.write_settings({});
    std::vector<Rar5Item> damaged = s.release.packages.at("kuvento.rar");
    damaged[0].bad_crc = true;
    s.server.put("kuvento.rar", rar5_archive(damaged));
    s.site.start_programs();
    const size_t logged = s.site.program_log().size();

    UpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    run.click(StepButton::Start);
    Box error = run.acknowledge_box(120s);
    EXPECT_EQ(error.caption, "kvupdate");
    EXPECT_NE(error.text.find("CRC"), std::string::npos) << error.text;
    run.expect_open();
    expect_steps_can_be_repeated(run.read_window());
    s.expect_program_kept("kuvento.exe");
    EXPECT_TRUE(s.site.starts_after(logged).empty());

    // The shop starts its program again and the operator retries the
    // packages: the running program and its file stay as they are.
    shell("cd " + quoted(s.site.dir().string()) + " && ./kuvento.exe </dev/null >/dev/null 2>&1 &");
    ASSERT_TRUE(wait_until([&] { return !s.site.starts_after(logged).empty(); }));
    const uint32_t restarted = s.site.starts_after(logged).back().pid;
    run.click(StepButton::Packages);
    Box again = run.acknowledge_box(120s);
    EXPECT_EQ(again.text, error.text);
    run.expect_open();
    EXPECT_TRUE(process_running(restarted, "kuvento.exe")) << "the running program was stopped for nothing";
    s.expect_program_kept("kuvento.exe");
}

// A settings file as Windows sites write it: Windows-1254, with Turkish
// letters in the paths.
TEST(Update, Windows1254Settings) {
    Scenario s("cp1254");
    SiteSettingsText settings;
    settings.application_path = "C:\\Kuvento Şube\\";
    settings.update_folder_name = "Güncelleme Şube";
    settings.cp1254 = true;
    s.site.write_settings(settings);
    ASSERT_EQ(s.site.read("kvayarlar.ini").find("Ş"), std::string::npos) << "not written in Windows-1254";
    const size_t logged = s.site.program_log().size();

    CommandResult read = shell("cd " + quoted(s.site.dir().string()) + " && " KV_BIN_DIR "/kvtool settings");
    ASSERT_EQ(read.status, 0) << read.output;
    EXPECT_NE(read.output.find("\"ApplicationPath\":\"C:\\\\Kuvento Şube\\\\\""), std::string::npos)
        << read.output;

    UpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    const WindowControl* path = control(run.read_window(), "C:\\Kuvento Şube\\");
    ASSERT_NE(path, nullptr) << "the application path is not shown as written";
    EXPECT_TRUE(path->shown);
    run.click(StepButton::Start);
    EXPECT_EQ(run.wait_exit(120s), 0);
    EXPECT_EQ(s.site.upgrade_year(), "2027");
    s.expect_downloads({"kuvento.rar", "telvano.rar", "report.rar", "dorvika.rar", "dll.rar"});
    s.expect_release_installed();
    s.expect_restarted(logged);
}

} // namespace
} // namespace kv::test::e2e
