// The whole update as a Windows site operator runs it, with the win64 build
// under Wine (and, in the normal update, the 32-bit deployable under the
// emulated 32-bit Wine) against the real peers: the Firebird network server (and the
// embedded engine, for the local attach of small sites) through the client
// bridge, 7-Zip's Windows library, nginx as the package server, and the
// Windows stand-in under the product's file names. Driven through the real
// window and checked from outside, as the Linux runs are. Screenshots of
// every stage are kept in the build tree under tests/e2e/artifacts/Wine<scenario>
// (Wine32<scenario> for the 32-bit deployable, see wine_operator.h).
#include "open_gate.h"
#include "wine_operator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

namespace kv::test::e2e {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path artifacts() {
    const std::string kind = wine_target().name == "win32" ? "Wine32" : "Wine";
    fs::path dir =
        fs::path(KV_E2E_ARTIFACTS) / (kind + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    return dir;
}

const char* const kAlreadyDone = "2027 güncellemesi yapılmış. işlem iptal edilecek";
// The application's title, from the program's file name, captions its boxes.
const char* const kBoxCaption = "Kvupdate";
const std::vector<std::string> kPackages = {"kuvento.rar", "telvano.rar", "report.rar", "dorvika.rar",
                                            "dll.rar"};

struct Scenario : UpdateScenario {
    explicit Scenario(const std::string& tag, const std::string& charset = "utf8")
        : UpdateScenario(tag, wine_host(), charset) {}

    // After the update: the console program, then the product, both started
    // from the site folder, and nothing else. The Wine server's ids do not
    // rise with time, so the processes' creation times tell the order.
    void expect_restarted(size_t log_before) {
        std::vector<ProgramEvent> starts = site.starts_after(log_before);
        ASSERT_EQ(starts.size(), 2u);
        std::vector<std::string> by_creation;
        for (const WineProcess& p : wine_processes())
            for (const ProgramEvent& s : starts)
                if (p.pid == s.pid && p.name == s.name) by_creation.push_back(p.name);
        EXPECT_EQ(by_creation, (std::vector<std::string>{kConsoleProgram, "kuvento.exe"}));
        for (const ProgramEvent& start : starts) {
            for (const ProgramEvent& e : site.program_log()) {
                if (e.event == "cwd" && e.pid == start.pid && e.name == start.name) {
                    EXPECT_EQ(e.detail, host.settings_path(site.dir())) << start.name << " runs elsewhere";
                }
            }
        }
    }
};

// The peers are started by scripts/test; without them the tests fail, never
// skip, and never let Wine make a prefix of its own.
class WineUpdate : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_THROW(require_wine_peers()); }
};

TEST_F(WineUpdate, NormalUpdate) {
    Scenario s("wine-normal");
    s.site.write_settings({});
    ASSERT_NE(s.site.upgrade_year(), "2027");
    fs::create_directories(s.site.update_dir());
    write_file((s.site.update_dir() / "eski.rar").string(), "left by an earlier run");
    std::map<std::string, uint32_t> running = s.site.start_programs();
    const size_t logged = s.site.program_log().size();

    WineUpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    run.click(StepButton::Start);
    EXPECT_EQ(run.wait_exit(180s), 0);

    EXPECT_EQ(s.site.upgrade_year(), "2027");
    EXPECT_EQ(s.site.scalar(kUpgradeTables), "5");
    EXPECT_EQ(s.site.scalar("select count(*) from faturabilgi;"), "1");

    for (const std::string& name : kStoppedPrograms)
        EXPECT_FALSE(s.site.running(running[name], name)) << name << " was not stopped";
    EXPECT_TRUE(s.site.running(running[kConsoleProgram], kConsoleProgram))
        << "the console program is not stopped";
    s.expect_restarted(logged);
    // The release's client library replaced the one the database step loaded.
    s.expect_release_installed();

    for (const std::string& name : kCachedSettings)
        EXPECT_FALSE(s.site.exists(name)) << name;
    EXPECT_TRUE(s.site.exists("notlar.txt"));
    EXPECT_FALSE(fs::exists(s.site.update_dir() / "eski.rar")) << "the update folder was not reset";
    s.expect_downloads(kPackages);
    EXPECT_EQ(read_file((s.site.update_dir() / "dll" / "midas.dll").string()),
              s.release.item("dll.rar", "midas.dll"));
}

// The next release day the database is on 2027: the notice, then the packages
// as before, with the client library the first run installed.
TEST_F(WineUpdate, SecondRun) {
    Scenario s("wine-second");
    s.site.write_settings({});
    s.site.start_programs();
    const fs::path shots = artifacts();
    {
        WineUpdaterRun first(s.site.dir(), shots / "first");
        first.unlock();
        first.click(StepButton::Start);
        ASSERT_EQ(first.wait_exit(180s), 0);
    }
    ASSERT_EQ(s.site.upgrade_year(), "2027");
    write_file((s.site.dir() / "menu.txt").string(), "ayar\n");
    const size_t logged = s.site.program_log().size();

    WineUpdaterRun run(s.site.dir(), shots / "second");
    run.unlock();
    run.click(StepButton::Start);
    Box notice = run.acknowledge_box();
    EXPECT_EQ(notice.caption, kBoxCaption);
    EXPECT_EQ(notice.text, kAlreadyDone);
    EXPECT_EQ(run.wait_exit(180s), 0);

    EXPECT_EQ(s.site.scalar("select count(*) from faturabilgi;"), "1") << "the upgrade ran again";
    EXPECT_FALSE(s.site.exists("menu.txt"));
    s.expect_release_installed();
    s.expect_restarted(logged);
}

// The database server cannot be reached: the updater resolves "localhost" to
// an address where nothing listens (its own view of /etc/hosts).
TEST_F(WineUpdate, DatabaseUnreachable) {
    Scenario s("wine-nodb");
    s.site.write_settings({});
    const fs::path hosts = s.site.dir() / "hosts";
    write_file(hosts.string(), "127.0.0.2 localhost\n");
    const size_t logged = s.site.program_log().size();

    WineUpdaterRun run(s.site.dir(), artifacts(), hosts);
    run.unlock();
    run.click(StepButton::Start);
    Box error = run.acknowledge_box(180s);
    EXPECT_EQ(error.caption, kBoxCaption);
    EXPECT_NE(error.text.find("Unable to complete network request to host \"localhost\""), std::string::npos)
        << error.text;
    EXPECT_EQ(run.wait_exit(30s), 0);

    EXPECT_NE(s.site.upgrade_year(), "2027");
    s.expect_release_installed();
    s.expect_restarted(logged);
}

TEST_F(WineUpdate, MobilePackageMissing) {
    Scenario s("wine-nomobile");
    s.site.write_settings({});
    s.server.remove("telvano.rar");
    std::map<std::string, uint32_t> running = s.site.start_programs();
    const size_t logged = s.site.program_log().size();

    WineUpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    run.click(StepButton::Start);
    Box error = run.acknowledge_box(180s);
    EXPECT_EQ(error.caption, kBoxCaption);
    EXPECT_EQ(error.text, "HTTP/1.1 404 Not Found.");
    run.expect_open();
    std::vector<WindowControl> window = run.read_window();
    expect_steps_can_be_repeated(window);
    EXPECT_NE(control(window, kUpgradeLogLine), nullptr);
    EXPECT_NE(control(window, "Mobil ve Yedekleme Indiriliyor.."), nullptr);

    EXPECT_EQ(s.site.upgrade_year(), "2027");
    s.expect_program_replaced("kuvento.rar", "kuvento.exe");
    for (const char* name : {"telvano.exe", "kvbck.exe", "dorvika.exe"}) {
        s.expect_program_kept(name);
        EXPECT_FALSE(s.site.running(running[name], name)) << name;
    }
    EXPECT_FALSE(s.site.exists("report/satis.fr3")) << "the step went on after the missing package";
    EXPECT_FALSE(s.site.exists("midas.dll"));
    EXPECT_TRUE(s.site.starts_after(logged).empty()) << "nothing is started after a failed update";

    s.server.put("telvano.rar", rar5_archive(s.release.packages.at("telvano.rar")));
    run.click(StepButton::Packages);
    EXPECT_EQ(run.wait_exit(180s), 0);
    s.expect_release_installed();
    s.expect_restarted(logged);
}

TEST_F(WineUpdate, DamagedProductPackage) {
    Scenario s("wine-damaged");
    s.site.write_settings({});
    std::vector<Rar5Item> damaged = s.release.packages.at("kuvento.rar");
    damaged[0].bad_crc = true;
    s.server.put("kuvento.rar", rar5_archive(damaged));
    s.site.start_programs();
    const size_t logged = s.site.program_log().size();

    WineUpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    run.click(StepButton::Start);
    Box error = run.acknowledge_box(180s);
    EXPECT_EQ(error.caption, kBoxCaption);
    EXPECT_EQ(error.text, "Cannot extract \"kuvento.exe\": CRC error.");
    run.expect_open();
    expect_steps_can_be_repeated(run.read_window());
    s.expect_program_kept("kuvento.exe");
    EXPECT_TRUE(s.site.starts_after(logged).empty());

    // The shop starts its program again and the operator retries the
    // packages: a package that cannot be had whole stops nothing and puts
    // nothing in place, so the program runs on.
    const uint32_t restarted = s.site.start_program("kuvento.exe");
    run.click(StepButton::Packages);
    Box again = run.acknowledge_box(180s);
    EXPECT_EQ(again.text, error.text);
    run.expect_open();
    EXPECT_TRUE(s.site.running(restarted, "kuvento.exe")) << "the running program was stopped for nothing";
    s.expect_program_kept("kuvento.exe");
}

// A drive letter of the Wine prefix mapped onto `folder` while it lives: the
// second name that a `subst` drive or a mapped network drive gives a
// Windows site's folders.
class SecondDrive {
public:
    explicit SecondDrive(const fs::path& folder) {
        const fs::path devices = fs::path(wine_target().prefix) / "dosdevices";
        for (char letter = 'k'; letter <= 'y'; ++letter) {
            const fs::path link = devices / (std::string(1, letter) + ":");
            std::error_code ec;
            if (fs::symlink_status(link, ec).type() != fs::file_type::not_found) continue;
            fs::create_directory_symlink(folder, link, ec);
            if (ec) continue;
            FLink = link;
            FRoot = std::string(1, char(letter - 'a' + 'A')) + ":\\";
            return;
        }
        throw std::runtime_error("no free drive letter in the Wine prefix " + devices.string());
    }
    ~SecondDrive() {
        std::error_code ec;
        fs::remove(FLink, ec);
    }
    SecondDrive(const SecondDrive&) = delete;
    SecondDrive& operator=(const SecondDrive&) = delete;
    const std::string& root() const { return FRoot; }

private:
    fs::path FLink;
    std::string FRoot;
};

// UPDATE_ADRES naming the program folder by a second name: start-up refuses
// it with the notice, the whole update runs in the default folder, and the
// site keeps its database, settings, notes and reports.
void expect_refused_and_site_kept(Scenario& s, const std::string& update_adres) {
    SiteSettingsText settings;
    settings.update_adres = update_adres;
    s.site.write_settings(settings);
    write_file((s.site.dir() / "Rapor" / "eski.fr3").string(), "a report of the site");

    WineUpdaterRun run(s.site.dir(), artifacts());
    Box notice = run.acknowledge_box();
    EXPECT_EQ(notice.caption, kBoxCaption);
    EXPECT_EQ(notice.text.rfind("UPDATE_ADRES kullanılmadı: " + update_adres, 0), 0u) << notice.text;
    run.unlock();
    run.click(StepButton::Start);
    EXPECT_EQ(run.wait_exit(180s), 0);

    EXPECT_EQ(s.site.upgrade_year(), "2027");
    for (const char* kept : {"kvayarlar.ini", "notlar.txt", "Rapor/eski.fr3"})
        EXPECT_TRUE(s.site.exists(kept)) << kept;
    s.expect_release_installed();
    EXPECT_TRUE(fs::is_directory(s.site.dir() / "update" / "dll")) << "the default folder was not used";
}

// A second drive letter mapped onto the site's parent: "K:\site" is the
// program folder, though no text of it says so.
TEST_F(WineUpdate, UpdateFolderOnASecondDrive) {
    Scenario s("wine-drive");
    SecondDrive drive(s.site.dir().parent_path());
    expect_refused_and_site_kept(s, drive.root() + s.site.dir().filename().string());
}

// A symbolic link to the program folder, which Wine shows its programs as a
// reparse point. Wine 8's CreateSymbolicLinkW answers success and makes
// nothing, and it makes no junctions, so the link is made from outside, as
// another file sharing or a Linux host of the folder would make it.
TEST_F(WineUpdate, UpdateFolderThroughALink) {
    Scenario s("wine-link");
    fs::create_directory_symlink(s.site.dir(), s.site.dir() / "to-site");
    expect_refused_and_site_kept(s, wine_host().settings_path(s.site.dir() / "to-site"));
}

// A library that another program of the site holds without delete sharing
// cannot be replaced: the step ends with the box that names it and gives
// Windows' reason, nothing is started, the library is as it was, and what
// went into place before it stays (once it is free, "Dosyaları İndir" ends
// the update).
TEST_F(WineUpdate, HeldLibrary) {
    Scenario s("wine-held");
    s.site.write_settings({});
    write_file((s.site.dir() / "libmysql.dll").string(), "client 2026");
    s.site.start_programs();
    const size_t logged = s.site.program_log().size();
    auto held = std::make_unique<HeldFile>(s.site.dir(), "libmysql.dll");

    WineUpdaterRun run(s.site.dir(), artifacts());
    run.unlock();
    run.click(StepButton::Start);
    Box error = run.acknowledge_box(180s);
    EXPECT_EQ(error.caption, kBoxCaption);
    const std::string named =
        "Cannot put file \"" + s.host.settings_path(s.site.dir() / "libmysql.dll") + "\" in place. ";
    EXPECT_EQ(error.text.rfind(named, 0), 0u) << error.text;
    EXPECT_GT(error.text.size(), named.size() + 1) << "the reason is missing";
    run.expect_open();
    expect_steps_can_be_repeated(run.read_window());
    EXPECT_EQ(s.site.read("libmysql.dll"), "client 2026");
    EXPECT_EQ(s.site.read("libeay32.dll"), s.release.item("dll.rar", "libeay32.dll"))
        << "the library before it";
    EXPECT_NE(s.site.exists("libssh2.dll") ? s.site.read("libssh2.dll") : "",
              s.release.item("dll.rar", "libssh2.dll"))
        << "the library after it";
    s.expect_program_replaced("kuvento.rar", "kuvento.exe");
    EXPECT_TRUE(s.site.starts_after(logged).empty()) << "nothing is started after a failed update";

    held.reset();
    run.click(StepButton::Packages);
    EXPECT_EQ(run.wait_exit(180s), 0);
    s.expect_release_installed();
    s.expect_restarted(logged);
}

// The product's files the crash tests check, each with its package.
std::vector<std::pair<std::string, std::string>> product_files() {
    std::vector<std::pair<std::string, std::string>> files; // package, name
    for (const char* p : {"kuvento.exe", "telvano.exe", "kvbck.exe"})
        files.push_back({p == std::string("kuvento.exe") ? "kuvento.rar" : "telvano.rar", p});
    files.push_back({"dorvika.rar", "dorvika.exe"});
    for (const std::string& l : kLibraries)
        files.push_back({"dll.rar", l});
    return files;
}

std::map<std::string, std::string> product_files_now(const Scenario& s) {
    std::map<std::string, std::string> now;
    for (const auto& f : product_files())
        if (s.site.exists(f.second)) now[f.second] = s.site.read(f.second);
    return now;
}

// Each product file is whole: the one the site had (`before`) or the release's.
void expect_each_whole(const Scenario& s, const std::map<std::string, std::string>& before) {
    for (const auto& [package, name] : product_files()) {
        const std::string now = s.site.exists(name) ? s.site.read(name) : "";
        const bool is_new = now == s.release.item(package, name);
        const bool is_old = before.count(name) ? now == before.at(name) : !s.site.exists(name);
        EXPECT_TRUE(is_new || is_old) << name << " is cut: " << now.size() << " bytes";
    }
}

// The journal's records of one kind ("begin", "done"; "" for every record),
// of the file `name` or of all.
size_t journal_records(const Scenario& s, const std::string& kind, const std::string& name = "") {
    const fs::path journal = s.site.dir() / "onceki-surum" / "journal.txt";
    size_t n = 0;
    std::istringstream text(fs::exists(journal) ? read_file(journal.string()) : "");
    for (std::string line; std::getline(text, line);)
        n += line.starts_with(kind) && (name.empty() || line.ends_with("\t" + name));
    return n;
}

// kvtool recover as a technician runs it in the program folder, without the
// updater's window: its exit status and what it printed (through a file: a
// Wine service may keep a pipe open).
CommandResult recover_with_kvtool(const Scenario& s) {
    const ScratchDir out("recover");
    const std::string printed = (out.path() / "out.txt").string();
    CommandResult r = shell("cd " + quoted(s.site.dir().string()) + " && " + wine_command() + " " +
                            quoted(std::string(KV_WINE64_DIR) + "/bin/kvtool.exe") + " recover </dev/null >" +
                            quoted(printed) + " 2>&1");
    r.output = read_file(printed);
    return r;
}

// The start after a kill: the notice of what the start finished or undid
// when the journal shows a change unfinished, then every product file whole
// and the product starting, then the whole update, which brings the site to
// the release.
void expect_recovered_by_next_start(Scenario& s, const std::map<std::string, std::string>& before,
                                    const fs::path& shots) {
    const bool unfinished = journal_records(s, "begin") > journal_records(s, "done");
    WineUpdaterRun again(s.site.dir(), shots);
    if (unfinished) {
        Box recovered = again.acknowledge_box(120s);
        EXPECT_EQ(recovered.text.rfind("Yarıda kalan güncelleme değişiklikleri düzeltildi:", 0), 0u)
            << recovered.text;
    }
    again.unlock();
    expect_each_whole(s, before);
    s.site.start_program("kuvento.exe"); // throws unless the product starts
    const size_t logged = s.site.program_log().size();
    again.click(StepButton::Start);
    if (s.site.upgrade_year() == "2027") {
        Box done = again.acknowledge_box(180s);
        EXPECT_EQ(done.text, kAlreadyDone);
    }
    EXPECT_EQ(again.wait_exit(180s), 0);
    s.expect_release_installed();
    s.expect_restarted(logged);
}

// A subset of the crash matrix under Wine: the updater is killed (SIGKILL)
// once its journal holds so many records (the kill may land a record later):
// around the product's rename, around the first library (the client library
// the database step loaded, and let go when it detached) and before the last
// library's rename. The product is started
// again before the next start, as a shop does. Each file is the whole old or
// the whole new one, and the next start finishes or undoes the cut change
// (with a notice) before the whole update brings the site to the release.
TEST_F(WineUpdate, KilledAtJournalRecords) {
    for (const size_t kill_at : {3u, 4u, 15u, 33u}) {
        SCOPED_TRACE("killed at journal record " + std::to_string(kill_at));
        Scenario s("wine-killed");
        s.site.write_settings({});
        s.site.start_programs();
        wine_host().install_updater(s.site.dir()); // with the site's first client library
        const std::map<std::string, std::string> before = product_files_now(s);
        {
            WineUpdaterRun run(s.site.dir(), artifacts() / std::to_string(kill_at));
            run.unlock();
            run.click(StepButton::Start);
            ASSERT_TRUE(wait_until([&] { return journal_records(s, "") >= kill_at || !run.running(); },
                                   std::chrono::seconds(180)));
            run.kill();
            std::cout << "killed at journal record " << journal_records(s, "") << "\n";
        }
        expect_each_whole(s, before);
        s.site.start_program("kuvento.exe"); // throws unless the product starts
        expect_recovered_by_next_start(s, before, artifacts() / (std::to_string(kill_at) + "-again"));
    }
}

// The kill between the two renames of a running program: its file renamed
// aside to *.kvold, the new file not yet under its name. Under Wine the Wine
// server opens the new file for its rename, so an OpenGate on the program
// folder sees that open once the name is free and kills the updater while
// the open waits: the rename never comes. The running programs are copies
// the update cannot stop, of the product and of the printing program (whose
// phase stops it only once its package is whole).
TEST_F(WineUpdate, KilledBetweenTheRenames) {
    for (const std::string name : {"kuvento.exe", "dorvika.exe"}) {
        SCOPED_TRACE("killed between the renames of " + name);
        Scenario s("wine-between");
        s.site.write_settings({});
        s.site.start_programs();
        wine_host().install_updater(s.site.dir());
        std::optional<UnstoppableProgram> unstoppable(std::in_place, s.site.dir(), name);
        const std::map<std::string, std::string> before = product_files_now(s);
        const fs::path target = s.site.dir() / name, aside = s.site.dir() / (name + ".kvold");
        {
            WineUpdaterRun run(s.site.dir(), artifacts() / name);
            std::atomic<bool> killed{false};
            OpenGate gate(s.site.dir(), [&](const std::string& opened) {
                if (opened == name + ".kvnew" && !fs::exists(target) && fs::exists(aside) &&
                    !killed.exchange(true))
                    ::kill(run.process(), SIGKILL);
                return true;
            });
            run.unlock();
            run.click(StepButton::Start);
            ASSERT_TRUE(wait_until([&] { return killed || !run.running(); }, std::chrono::seconds(180)));
            run.kill();
            ASSERT_TRUE(killed) << "the updater ended without renaming " << name << " aside";
        }
        // The kill landed there: the change begun and not done, no file
        // under the name, the old one whole aside and the new one beside.
        EXPECT_EQ(journal_records(s, "begin", name), 1u);
        EXPECT_EQ(journal_records(s, "done", name), 0u);
        EXPECT_FALSE(fs::exists(target));
        EXPECT_EQ(read_file(aside.string()), before.at(name));
        EXPECT_EQ(read_file((s.site.dir() / (name + ".kvnew")).string()),
                  s.release.item(name == "kuvento.exe" ? "kuvento.rar" : "dorvika.rar", name));
        if (name == "dorvika.exe") {
            // Here kvtool recover finishes the change before the next start.
            const CommandResult recovered = recover_with_kvtool(s);
            EXPECT_EQ(recovered.status, 0) << recovered.output;
            EXPECT_NE(recovered.output.find("\"finished\""), std::string::npos) << recovered.output;
            EXPECT_NE(recovered.output.find(name), std::string::npos) << recovered.output;
            EXPECT_EQ(journal_records(s, ""), 0u); // the journal is cleared once every change is over
            EXPECT_EQ(read_file(target.string()), s.release.item("dorvika.rar", name));
        }
        expect_recovered_by_next_start(s, before, artifacts() / (name + "-again"));
        EXPECT_TRUE(unstoppable->running());
        unstoppable.reset();
    }
}

// A program still running that the update cannot stop (one started with
// higher rights than the updater's): its file is renamed aside and the new
// one put in place, the update ends as usual, and once the program has
// ended the next run removes the old file.
TEST_F(WineUpdate, ProgramThatCannotBeStopped) {
    Scenario s("wine-unstoppable");
    s.site.write_settings({});
    s.site.start_programs();
    UnstoppableProgram unstoppable(s.site.dir(), "kuvento.exe");
    const std::string old_program = s.site.read("kuvento.exe");
    const size_t logged = s.site.program_log().size();
    const fs::path shots = artifacts();
    {
        WineUpdaterRun run(s.site.dir(), shots / "first");
        run.unlock();
        run.click(StepButton::Start);
        EXPECT_EQ(run.wait_exit(180s), 0);
    }
    EXPECT_TRUE(unstoppable.running()) << "the program was stopped after all";
    s.expect_release_installed();
    s.expect_restarted(logged);
    EXPECT_EQ(s.site.read("kuvento.exe.kvold"), old_program) << "the running file renamed aside";
    EXPECT_EQ(journal_records(s, "begin"), journal_records(s, "done"));

    unstoppable.end();
    WineUpdaterRun again(s.site.dir(), shots / "second");
    again.unlock();
    again.click(StepButton::Start);
    EXPECT_EQ(again.acknowledge_box(180s).text, kAlreadyDone);
    EXPECT_EQ(again.wait_exit(180s), 0);
    EXPECT_FALSE(s.site.exists("kuvento.exe.kvold"));
    s.expect_release_installed();
}

// A rename refused both ways (a scanner holding the new file and the old
// one, say): the product, running where the update cannot stop it, is
// renamed aside, then neither the new file's rename nor the old one's way
// back is let through. The step ends with the box naming the program,
// nothing is started, and the change stays open with both files whole beside
// the name, so that the next run finishes it.
TEST_F(WineUpdate, RenameRefusedBothWays) {
    Scenario s("wine-refused");
    s.site.write_settings({});
    s.site.start_programs();
    const std::string name = "kuvento.exe";
    UnstoppableProgram unstoppable(s.site.dir(), name);
    const std::string old_program = s.site.read(name);
    const fs::path target = s.site.dir() / name, aside = s.site.dir() / (name + ".kvold");
    const size_t logged = s.site.program_log().size();

    WineUpdaterRun run(s.site.dir(), artifacts());
    std::atomic<bool> refusing{true}, refused{false};
    OpenGate gate(s.site.dir(), [&](const std::string& opened) {
        if (!refusing || (opened != name + ".kvnew" && opened != name + ".kvold") || fs::exists(target) ||
            !fs::exists(aside))
            return true;
        refused = true;
        return false;
    });
    run.unlock();
    run.click(StepButton::Start);
    Box error = run.acknowledge_box(180s);
    EXPECT_TRUE(refused);
    EXPECT_EQ(error.caption, kBoxCaption);
    const std::string named = "Cannot put file \"" + s.host.settings_path(target) + "\" in place. ";
    EXPECT_EQ(error.text.rfind(named, 0), 0u) << error.text;
    run.expect_open();
    expect_steps_can_be_repeated(run.read_window());
    // The gate lets the test's own reads through again; the updater waits for the operator.
    refusing = false;
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(read_file(aside.string()), old_program);
    EXPECT_EQ(s.site.read(name + ".kvnew"), s.release.item("kuvento.rar", name));
    EXPECT_EQ(journal_records(s, "begin", name), 1u);
    EXPECT_EQ(journal_records(s, "done", name), 0u) << "the change was taken as over";
    EXPECT_TRUE(s.site.starts_after(logged).empty()) << "nothing is started after a failed update";

    run.click(StepButton::Packages);
    EXPECT_EQ(run.wait_exit(180s), 0);
    s.expect_release_installed();
    s.expect_restarted(logged);
    EXPECT_EQ(journal_records(s, "begin"), journal_records(s, "done"));
}

// A small Turkish site: the settings file in Windows-1254 with Turkish letters
// in its paths, the database opened by its path alone (the local attach of a
// site without a server, which also gets no mobile package), a WIN1254
// database whose upgraded row holds Turkish text, and Wine's ANSI code page
// 1254. The first run meets a missing product package, so the window stays
// open to be read; the second meets a database already on 2027.
TEST_F(WineUpdate, TurkishSite) {
    Scenario s("wine-tr", "win1254");
    const std::string firm = "Şişli Güzel Çarşı İğdır Ünlü Ölçü";
    s.site.db().Isql("update firmabilgi set firmaadi = '" + firm + "';");
    SiteSettingsText settings;
    settings.server = "";
    settings.local_attach = true;
    settings.application_path = "C:\\Kuvento Şube\\";
    settings.update_folder_name = "Güncelleme Şube";
    settings.cp1254 = true;
    s.site.write_settings(settings);
    ASSERT_EQ(s.site.read("kvayarlar.ini").find("Ş"), std::string::npos) << "not written in Windows-1254";
    s.server.remove("kuvento.rar");
    const size_t logged = s.site.program_log().size();

    const fs::path shots = artifacts();
    WineUpdaterRun run(s.site.dir(), shots / "first");
    run.unlock();
    std::vector<WindowControl> window = run.read_window();
    for (const std::string& line : {"http://127.0.0.1:" + std::to_string(KV_E2E_PACKAGE_PORT) + "/2027/",
                                    std::string("C:\\Kuvento Şube\\")}) {
        const WindowControl* shown = control(window, line);
        ASSERT_NE(shown, nullptr) << "settings line " << line << " is not shown as written";
        EXPECT_TRUE(shown->shown) << line;
    }
    run.click(StepButton::Start);
    Box error = run.acknowledge_box(180s);
    EXPECT_EQ(error.caption, kBoxCaption);
    EXPECT_EQ(error.text, "HTTP/1.1 404 Not Found.");
    run.expect_open();
    window = run.read_window();
    EXPECT_NE(control(window, kUpgradeLogLine), nullptr) << "the log line";
    EXPECT_NE(control(window, "Kuvento İndiriliyor.."), nullptr) << "the status line of the failed phase";
    EXPECT_EQ(s.site.upgrade_year(), "2027");
    const std::string row = s.site.db().Isql("select firmaadi from firmabilgi;");
    EXPECT_NE(row.find(firm), std::string::npos) << row;

    s.server.put("kuvento.rar", rar5_archive(s.release.packages.at("kuvento.rar")));
    run.click(StepButton::Packages);
    EXPECT_EQ(run.wait_exit(180s), 0);
    s.expect_downloads({"kuvento.rar", "report.rar", "dorvika.rar", "dll.rar"});
    EXPECT_FALSE(fs::exists(s.site.update_dir() / "telvano.rar"))
        << "a site without a server got the mobile package";
    s.expect_release_installed(false);
    s.expect_restarted(logged);

    WineUpdaterRun again(s.site.dir(), shots / "second");
    again.unlock();
    again.click(StepButton::Start);
    Box notice = again.acknowledge_box();
    EXPECT_EQ(notice.caption, kBoxCaption);
    EXPECT_EQ(notice.text, kAlreadyDone);
    EXPECT_EQ(again.wait_exit(180s), 0);
}

} // namespace
} // namespace kv::test::e2e
