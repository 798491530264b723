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

const char* const kUpgradeTables = "select count(*) from rdb$relations where rdb$relation_name in "
                                   "('EF_SERI', 'EF_GIDEN', 'EF_GELEN', 'FATURABILGI', 'KAMPANYA_BILGI');";

// What the tests build around one run: the release on the package server and
// a site whose database holds the fixture's year.
struct Scenario {
    Release release;
    PackageServer server{release};
    Site site;
    std::string stand_in = read_file(fake_program_path().string());

    explicit Scenario(const std::string& tag) : site(tag) {}

    void expect_program_replaced(const std::string& package, const std::string& name) {
        EXPECT_EQ(site.read(name), release.item(package, name)) << name << " is not the one of " << package;
    }
    void expect_program_kept(const std::string& name) {
        EXPECT_EQ(site.read(name), stand_in) << name << " was replaced";
    }
    // Everything the release puts into the program folder, byte for byte.
    void expect_release_installed() {
        expect_program_replaced("kuvento.rar", "kuvento.exe");
        expect_program_replaced("telvano.rar", "telvano.exe");
        expect_program_replaced("telvano.rar", "kvbck.exe");
        expect_program_replaced("dorvika.rar", "dorvika.exe");
        for (const std::string& library : kLibraries)
            EXPECT_EQ(site.read(library), release.item("dll.rar", library)) << library;
        EXPECT_EQ(site.read("report/satis.fr3"), release.item("report.rar", "satis.fr3"));
        EXPECT_EQ(site.read("report/Fatura/efatura.fr3"), release.item("report.rar", "Fatura/efatura.fr3"));
        EXPECT_EQ(site.read("logo1024.png"), release.logo);
        EXPECT_EQ(site.read(kConsoleProgram), stand_in) << "no package holds the console program";
    }
    // The update folder holds this run's downloads as the server has them.
    void expect_downloads(const std::vector<std::string>& packages) {
        for (const std::string& p : packages)
            EXPECT_EQ(read_file((site.update_dir() / p).string()),
                      read_file((server.root() / "2027" / p).string()))
                << p;
    }
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

// The control of the window showing exactly `text`, or the log (a text
// control) holding it.
const WindowControl* control(const std::vector<WindowControl>& window, const std::string& text) {
    for (const WindowControl& c : window)
        if (c.text == text || (c.role == "text" && c.text.find(text) != std::string::npos)) return &c;
    return nullptr;
}

// After a step stopped on an error the window stays with the two later step
// buttons enabled, so the operator can run them again by hand.
void expect_steps_can_be_repeated(const std::vector<WindowControl>& window) {
    for (const auto& [caption, enabled] : std::vector<std::pair<std::string, bool>>{
             {"Güncelleme Başla", false}, {"SQL Çalıştır", true}, {"Dosyaları İndir", true}}) {
        const WindowControl* button = control(window, caption);
        ASSERT_NE(button, nullptr) << caption;
        EXPECT_TRUE(button->shown) << caption;
        EXPECT_EQ(button->enabled, enabled) << caption;
    }
}

const char* const kUpgradeLogLine = "2027 Database güncellemesi Başarı ile tamamlandı..";

std::string upgrade_year(Site& site) {
    return site.scalar("select yil from firmabilgi;");
}

TEST(Update, NormalUpdate) {
    Scenario s("normal");
    s.site.write_settings({});
    ASSERT_NE(upgrade_year(s.site), "2027");
    fs::create_directories(s.site.update_dir());
    write_file((s.site.update_dir() / "eski.rar").string(), "left by an earlier run");
    std::map<std::string, uint32_t> running = s.site.start_programs();
    const size_t logged = s.site.program_log().size();

    UpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    run.click(StepButton::Start);
    EXPECT_EQ(run.wait_exit(120s), 0);

    EXPECT_EQ(upgrade_year(s.site), "2027");
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

TEST(Update, SecondRun) {
    Scenario s("second");
    s.site.write_settings({});
    s.site.start_programs();
    {
        UpdaterRun first(s.site.dir(), artifacts() / "first");
        first.unlock();
        first.click(StepButton::Start);
        ASSERT_EQ(first.wait_exit(120s), 0);
    }
    ASSERT_EQ(upgrade_year(s.site), "2027");
    // The next release day: the product runs again, a settings file is back.
    write_file((s.site.dir() / "menu.txt").string(), "ayar\n");
    fs::remove(s.site.dir() / "kuvento.exe"); // still running from the first run
    install_fake_program(s.site.dir(), "kuvento.exe");
    const size_t logged = s.site.program_log().size();

    UpdaterRun run(s.site.dir(), artifacts() / "second");
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
          "notice: 2027 güncellemesi yapılmış. işlem iptal edilecek\r\n",
          "run ended: Güncelleme Başla: ended by the silent abort\r\n"})
        EXPECT_NE(record.find(line), std::string::npos) << line;
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

    EXPECT_NE(upgrade_year(s.site), "2027");
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
    // The download's "404 Not Found" is followed by the archive error for the
    // empty file it left, which takes its place.
    Box error = run.acknowledge_box(120s);
    EXPECT_EQ(error.caption, "kvupdate");
    EXPECT_EQ(error.text, "Incorrect function.");
    run.expect_open();
    std::vector<WindowControl> window = run.read_window();
    expect_steps_can_be_repeated(window);
    EXPECT_NE(control(window, kUpgradeLogLine), nullptr);
    EXPECT_NE(control(window, "Mobil ve Yedekleme Indiriliyor.."), nullptr)
        << "the status line of the failed phase";

    EXPECT_EQ(upgrade_year(s.site), "2027");
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
    EXPECT_EQ(upgrade_year(s.site), "2027");
    s.expect_downloads({"kuvento.rar", "telvano.rar", "report.rar", "dorvika.rar", "dll.rar"});
    s.expect_release_installed();
    s.expect_restarted(logged);
}

} // namespace
} // namespace kv::test::e2e
