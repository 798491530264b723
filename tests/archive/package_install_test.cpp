// The package installation step through the scripted window, against a
// private nginx serving RAR5 packages written here, with the stand-in
// program running under the product's names: what is fetched for which
// site, what is stopped, copied and started, in which order, and what a
// failed download or a damaged package leaves untouched.
#include "app/application.h"
#include "app/form1.h"
#include "app/updater_fixture.h"
#include "platform/processes.h"
#include "platform/program_start.h"
#include "platform/window/scripted/scripted_backend.h"
#include "release/release_folder.h"
#include "support/fake_programs.h"
#include "support/package_server.h"
#include "support/signed_release.h"
#include "workflow/preflight.h"
#include "workflow/put_in_place.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

const char* const kRunningPrograms[] = {"kuvento.exe", "telvano.exe", "kvbck.exe", "dorvika.exe"};
const std::string kNewVersion = "\nrelease 2027\n"; // appended to the stand-in: it still runs

// The scripted window, recording every status text the step shows.
class StatusRecorder : public window::ScriptedBackend {
public:
    void update(window::Control& c) override {
        if (c.Name() == "Label4") statuses.push_back(c.Caption());
    }
    std::vector<std::string> statuses;
};

class PackageStep : public ::testing::Test {
public:
    void SetUp() override {
        // Programs started here end by themselves should a test stop early.
        ::setenv("KV_FAKE_PROGRAM_LIFETIME_MS", "60000", 1);
        FProgram = read_file(fake_program_path().string());
        FPackages = std::make_unique<PackageServer>(FProgram + kNewVersion);
    }
    // Ends the programs this test started (and only those).
    void TearDown() override {
        for (const ProgramEvent& e : read_program_log(log()))
            if (e.event == "start" && process_running(e.pid, e.name)) os::terminate_process(e.pid);
    }

    // The site: settings, the product's programs (running, except the CMX
    // one, which no package carries), and an old report.
    void make_site(const std::string& server_address, bool with_dorvika) {
        FSite.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=" + server_address + "\n");
        FSite.write("report/satis.fr3", "report 2026");
        install_fake_program(FSite.path(), "kuventoCMX.exe");
        for (const char* p : kRunningPrograms) {
            if (!with_dorvika && std::string(p) == "dorvika.exe") continue;
            install_fake_program(FSite.path(), p);
            ASSERT_TRUE(os::start_program(utf8(FSite.path() / p)));
            ASSERT_TRUE(wait_until([&] { return started_ids(log(), p).size() == 1; }));
        }
    }

    // Runs the step from "Dosyaları İndir".
    void run_step() {
        if (!FForm) {
            TForm1Config config;
            config.PackageHost = FPackages->host();
            config.ArchiveLibrary = FArchiveLibrary;
            config.ReleasePublicKey = FReleaseKey;
            FApp.Initialize();
            FApp.CreateForm(FForm, std::move(config));
            FBackend.show_window();
            FBackend.type(kAccessCode);
            FBackend.press_enter();
            FForm->Button5.SetEnabled(true);
        }
        FBackend.statuses.clear();
        FBackend.boxes.clear();
        ASSERT_TRUE(FBackend.click("Button5"));
    }

    fs::path log() const { return FSite.path() / "programs.log"; }
    std::string site_file(const std::string& name) const { return read_file((FSite.path() / name).string()); }
    bool updated(const std::string& name) const { return site_file(name) == FProgram + kNewVersion; }
    // Whether the first process started under `name` still runs.
    bool first_still_running(const std::string& name) const {
        auto ids = started_ids(log(), name);
        return !ids.empty() && process_running(ids.front(), name);
    }
    std::vector<std::string> starts() const {
        std::vector<std::string> out;
        for (const ProgramEvent& e : read_program_log(log()))
            if (e.event == "start") out.push_back(e.name);
        return out;
    }
    // kvtool rollback in the site, as a technician runs it; what it says on
    // standard error goes to rollback.err there.
    int rollback() const {
        const std::string out = utf8(FSite.path() / "rollback.out"),
                          err = utf8(FSite.path() / "rollback.err");
        return std::system(
            ("\"" + std::string(KV_BIN_DIR) + "/kvtool\" rollback >\"" + out + "\" 2>\"" + err + "\"")
                .c_str());
    }
    std::vector<std::string> box_texts() const {
        std::vector<std::string> out;
        for (auto& b : FBackend.boxes)
            out.push_back(b.text);
        return out;
    }

    std::string FProgram;
    std::unique_ptr<PackageServer> FPackages;
    std::string FArchiveLibrary;
    std::string FReleaseKey; // none: as a build without a release key
    SiteFolder FSite;
    StatusRecorder FBackend;
    TApplication FApp{FBackend};
    TForm1* FForm = nullptr;
};

TEST_F(PackageStep, LocalhostSiteWithPrintingGetsEverythingAndRestarts) {
    make_site("localhost", true);
    run_step();

    EXPECT_EQ(box_texts(), std::vector<std::string>{});
    EXPECT_EQ(FBackend.statuses,
              (std::vector<std::string>{
                  "Kuvento İndiriliyor..", "Kuvento Kopyalanıyor", "Mobil ve Yedekleme Indiriliyor..",
                  "Mobil ve Yedekleme Kopyalanıyor", "Raporlar İndiliyor..", "Raporlar Kopyalanıyor",
                  "Yazdırma İndiriliyor..", "Yazdırma Kopyalanıyor", "DLL dosyaları İndiriliyor..",
                  "DLL ler Kopyalanıyor", "İndirmeler Tamamlandı"}));
    for (const char* p : kRunningPrograms) {
        EXPECT_TRUE(updated(p)) << p;
        EXPECT_FALSE(first_still_running(p)) << p;
    }
    for (const char* l : kServedLibraries)
        EXPECT_EQ(site_file(l), served_library(l));
    EXPECT_EQ(site_file("report/satis.fr3"), kServedReport);
    EXPECT_EQ(site_file("report/alt/kasa.fr3"), kServedNestedReport);
    EXPECT_EQ(site_file("logo1024.png"), kServedLogo);
    EXPECT_TRUE(FForm->Button4.Enabled());
    EXPECT_TRUE(FApp.Terminated());
    // The restart: the CMX program first, then the new product. The two run
    // at once, so their log lines may come in either order; their process ids
    // are handed out in the order they were started.
    ASSERT_TRUE(wait_until([&] { return starts().size() == 6; }));
    auto cmx = started_ids(log(), "kuventoCMX.exe");
    auto product = started_ids(log(), "kuvento.exe");
    ASSERT_EQ(cmx.size(), 1u);
    ASSERT_EQ(product.size(), 2u);
    EXPECT_LT(cmx[0], product[1]);
    EXPECT_TRUE(process_running(product[1], "kuvento.exe"));
}

TEST_F(PackageStep, OtherSitesSkipMobileAndPrintingWhenAbsent) {
    make_site("LOCALHOST", false);
    run_step();

    EXPECT_EQ(box_texts(), std::vector<std::string>{});
    EXPECT_EQ(FBackend.statuses, (std::vector<std::string>{"Kuvento İndiriliyor..", "Kuvento Kopyalanıyor",
                                                           "Raporlar İndiliyor..", "Raporlar Kopyalanıyor",
                                                           "DLL dosyaları İndiriliyor..",
                                                           "DLL ler Kopyalanıyor", "İndirmeler Tamamlandı"}));
    EXPECT_TRUE(updated("kuvento.exe"));
    EXPECT_FALSE(updated("telvano.exe"));
    EXPECT_TRUE(first_still_running("telvano.exe"));
    EXPECT_TRUE(first_still_running("kvbck.exe"));
    EXPECT_FALSE(fs::exists(FSite.path() / "dorvika.exe"));
    EXPECT_TRUE(FApp.Terminated());
}

TEST_F(PackageStep, MissingArchiveLibraryEndsBeforeAnyDownload) {
    make_site("localhost", false);
    FArchiveLibrary = utf8(FSite.path() / "none" / "7z.so");
    run_step();

    EXPECT_EQ(box_texts(), std::vector<std::string>{"Error loading library " + FArchiveLibrary + "."});
    EXPECT_EQ(FBackend.statuses, std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(FSite.path() / "logo1024.png"));
    EXPECT_TRUE(first_still_running("kuvento.exe"));
    EXPECT_FALSE(FApp.Terminated());
}

// A package that cannot be had whole is not put in place: its programs keep
// running their current version and the step ends with the error, after the
// packages before it were installed. A second run from "Dosyaları İndir",
// once the server has it right, fetches everything again and finishes.
struct Spoilt {
    const char* name;
    std::vector<Rar5Item> items; // empty: the package is missing
    const char* program;         // the package's program
    const char* error;           // part of the error box's text
    bool product_updated;        // whether phase 4 was done before the failure
};

class SpoiltPackage : public PackageStep, public ::testing::WithParamInterface<Spoilt> {};

TEST_P(SpoiltPackage, KeepsItsProgramsAndEndsTheStepUntilFixed) {
    const Spoilt& c = GetParam();
    fs::path served = FPackages->package(c.name);
    std::string good = read_file(served.string());
    if (c.items.empty())
        fs::remove(served);
    else
        FPackages->serve(c.name, c.items);
    make_site("localhost", false);
    run_step();

    ASSERT_EQ(FBackend.boxes.size(), 1u);
    EXPECT_NE(FBackend.boxes[0].text.find(c.error), std::string::npos) << FBackend.boxes[0].text;
    EXPECT_EQ(updated("kuvento.exe"), c.product_updated);
    EXPECT_FALSE(updated(c.program));
    EXPECT_TRUE(first_still_running(c.program));
    EXPECT_EQ(site_file("report/satis.fr3"), "report 2026"); // no later phase ran
    EXPECT_FALSE(FApp.Terminated());
    EXPECT_TRUE(FForm->Button5.Enabled());
    EXPECT_EQ(starts().size(), 3u); // nothing was started

    write_file(served.string(), good);
    fs::remove(FSite.path() / "logo1024.png");
    run_step();
    EXPECT_EQ(box_texts(), std::vector<std::string>{});
    EXPECT_TRUE(updated(c.program));
    EXPECT_EQ(site_file("logo1024.png"), kServedLogo);
    EXPECT_TRUE(FApp.Terminated());
}

INSTANTIATE_TEST_SUITE_P(
    Packages, SpoiltPackage,
    // A failed download's error is the one shown, not that of opening what it left.
    ::testing::Values(Spoilt{"telvano.rar", {}, "telvano.exe", "HTTP/1.1 404 Not Found", true},
                      Spoilt{"kuvento.rar", {}, "kuvento.exe", "HTTP/1.1 404 Not Found", false},
                      Spoilt{"kuvento.rar",
                             {{"kuvento.exe", std::string(5000, 'k'), false, 0, true}},
                             "kuvento.exe",
                             "Cannot extract \"kuvento.exe\": CRC error",
                             false}),
    [](const auto& info) {
        return std::string(info.param.program).substr(0, 7) +
               (info.param.items.empty() ? "Missing" : "Damaged");
    });

// A file that cannot be put in place ends the step with the error box that
// names it and the system's reason, as a failed download ends it: nothing is
// started, the window stays with both step buttons, no later phase runs, and
// what the phases before it put in place stays. The target is as it was.
struct Blocked {
    const char* name;
    std::function<void(PackageStep&)> block;
    const char* file;   // the file named in the box
    std::string reason; // the rest of the box
    bool product_updated;
};

class BlockedTarget : public PackageStep, public ::testing::WithParamInterface<Blocked> {};

TEST_P(BlockedTarget, EndsTheStepWithTheErrorAndStartsNothing) {
    const Blocked& c = GetParam();
    make_site("localhost", false);
    c.block(*this);
    run_step();

    ASSERT_EQ(FBackend.boxes.size(), 1u);
    const std::string& box = FBackend.boxes[0].text;
    EXPECT_EQ(box.find("Cannot put file \"" + utf8(FSite.path()) + "\\" + c.file + "\" in place"), 0u) << box;
    EXPECT_NE(box.find(c.reason), std::string::npos) << box;
    EXPECT_EQ(std::count(FBackend.statuses.begin(), FBackend.statuses.end(), "İndirmeler Tamamlandı"), 0);
    EXPECT_EQ(updated("kuvento.exe"), c.product_updated);
    EXPECT_EQ(site_file("report/satis.fr3"), "report 2026"); // no later phase ran
    EXPECT_FALSE(FApp.Terminated());
    EXPECT_TRUE(FForm->Button5.Enabled());
    EXPECT_EQ(starts().size(), 3u); // nothing was started
    EXPECT_FALSE(fs::exists(FSite.path() / (std::string(c.file) + ".kvnew")));
}

INSTANTIATE_TEST_SUITE_P(
    Targets, BlockedTarget,
    ::testing::Values(Blocked{"ReadOnlyProduct",
                              [](PackageStep& t) {
                                  ASSERT_TRUE(os::set_read_only(utf8(t.FSite.path() / "kuvento.exe"), true));
                              },
                              "kuvento.exe", os::system_error_text(EACCES), false},
                      // The backup program's file is a folder: the mobile program before it is in place.
                      Blocked{"FolderInTheWay",
                              [](PackageStep& t) {
                                  fs::remove(t.FSite.path() / "kvbck.exe");
                                  fs::create_directory(t.FSite.path() / "kvbck.exe");
                              },
                              "kvbck.exe", "a folder of that name is in the way", true},
                      Blocked{
                          "MissingFromItsPackage",
                          [](PackageStep& t) {
                              t.FPackages->serve("telvano.rar", {{"telvano.exe", t.FProgram + kNewVersion}});
                          },
                          "kvbck.exe", "the package holds no file \"kvbck.exe\"", true}),
    [](const auto& info) { return std::string(info.param.name); });

// After a whole run, kvtool rollback stops the product and puts back exactly
// what the program folder held before it, without the network; it refuses,
// and changes nothing, once a kept file was altered.
TEST_F(PackageStep, RollbackPutsTheEarlierReleaseBack) {
    make_site("localhost", false);
    const std::string cmx = site_file("kuventoCMX.exe");
    run_step();
    ASSERT_EQ(box_texts(), std::vector<std::string>{});
    ASSERT_TRUE(updated("kuvento.exe"));
    ASSERT_TRUE(wait_until([&] { return starts().size() == 5; }));

    FPackages.reset(); // no package server from here on
    ASSERT_EQ(rollback(), 0) << site_file("rollback.err");
    for (const char* p : {"kuvento.exe", "telvano.exe", "kvbck.exe"})
        EXPECT_EQ(site_file(p), FProgram) << p;
    EXPECT_EQ(site_file("kuventoCMX.exe"), cmx);
    EXPECT_EQ(site_file("report/satis.fr3"), "report 2026");
    EXPECT_FALSE(fs::exists(FSite.path() / "report" / "alt" / "kasa.fr3")) << "it came with the release";
    EXPECT_FALSE(fs::exists(FSite.path() / "logo1024.png"));
    for (const char* l : kServedLibraries)
        EXPECT_FALSE(fs::exists(FSite.path() / l)) << l;
    const auto product = started_ids(log(), "kuvento.exe");
    ASSERT_EQ(product.size(), 2u);
    EXPECT_FALSE(process_running(product[1], "kuvento.exe")) << "the restarted product was stopped first";

    write_file((FSite.path() / "onceki-surum" / "telvano.exe").string(), "altered");
    install_fake_program(FSite.path(), "kuvento.exe"); // what a later run would have left
    write_file((FSite.path() / "kuvento.exe").string(), "release 2028");
    EXPECT_NE(rollback(), 0);
    EXPECT_NE(site_file("rollback.err").find("onceki-surum\\telvano.exe\" does not match"), std::string::npos)
        << site_file("rollback.err");
    EXPECT_EQ(site_file("kuvento.exe"), "release 2028");
}

// The first value the check reports under `key`, or "(none)".
std::string detail(const CheckResult& check, const std::string& key) {
    for (const CheckDetail& d : check.details)
        if (d.key == key && !d.values.empty()) return d.values.front();
    return "(none)";
}

// kvtool check on the program folder after a whole run of a signed release:
// it holds that release whole, or, after kvtool rollback, the kept release;
// an altered file, or one file of each, is a mix, named, and fails.
struct WholeRelease {
    const char* name;
    std::function<void(PackageStep&)> then; // done to the site after the run
    const char* verdict;                    // part of the "program folder" line
    bool neither;                           // some file matches neither release
};
class ReleaseInFolder : public PackageStep, public ::testing::WithParamInterface<WholeRelease> {};

TEST_P(ReleaseInFolder, CheckSaysWhetherTheFolderHoldsOneWholeRelease) {
    const WholeRelease& c = GetParam();
    ReleaseKey key;
    release::sign_folder(utf8(FPackages->root()), read_file(key.private_file()), {"2027.4", 0, std::nullopt});
    FReleaseKey = key.public_pem();
    make_site("localhost", false);
    run_step();
    ASSERT_EQ(box_texts(), std::vector<std::string>{});
    c.then(*this);

    const InstalledSet installed = installed_set(utf8(FSite.path()));
    EXPECT_EQ(installed.release, "2027.4");
    EXPECT_TRUE(installed.complete);
    EXPECT_EQ(installed.files.size(), kept_release(utf8(FSite.path())).size())
        << "every file the run put in place is in the installed set";
    const CheckResult check = check_kept_release();
    const std::string verdict = detail(check, "program folder");
    EXPECT_NE(verdict.find(c.verdict), std::string::npos) << verdict;
    EXPECT_EQ(verdict.find("matching neither") != std::string::npos, c.neither) << verdict;
    const bool mix = verdict.rfind("a mix: ", 0) == 0;
    EXPECT_EQ(check.passed, !mix) << check.reason;
    if (mix) {
        EXPECT_NE(check.reason.find(verdict), std::string::npos) << check.reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ReleaseInFolder,
    ::testing::Values(
        WholeRelease{"WholeNew", [](PackageStep&) {}, "holds release 2027.4 whole", false},
        WholeRelease{"WholeKeptAfterRollback",
                     [](PackageStep& t) { ASSERT_EQ(t.rollback(), 0) << t.site_file("rollback.err"); },
                     "holds the kept release", false},
        WholeRelease{"OneFileAltered",
                     [](PackageStep& t) { t.FSite.write("report/alt/kasa.fr3", "altered"); },
                     "a mix: matching neither: report\\alt\\kasa.fr3; as release 2027.4: ", true},
        WholeRelease{"OneFileFromEach",
                     [](PackageStep& t) { t.FSite.write("report/satis.fr3", "report 2026"); },
                     "; as kept: report\\satis.fr3", false}),
    [](const auto& info) { return std::string(info.param.name); });

// The crash matrix: the step, in a child process, is killed (SIGKILL) from
// outside at each record of its journal, that is, just before and just after
// each file's rename. Afterwards every product file is the whole old or the
// whole new one, the product starts, and the next run (which recovers first)
// brings the site to the release, with the site's release before the killed
// run as the kept one.
class CrashMatrix : public PackageStep, public ::testing::WithParamInterface<int> {};

size_t journal_records(const fs::path& journal) {
    std::error_code ec;
    if (!fs::exists(journal, ec)) return 0;
    const std::string text = read_file(journal.string());
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

TEST_P(CrashMatrix, EveryFileIsWholeAndTheNextRunFinishes) {
    const size_t kill_at = size_t(GetParam());
    make_site("localhost", false);
    struct Expected {
        std::string name, before, after; // before empty: not there before the run
    };
    std::vector<Expected> files{{"logo1024.png", "", kServedLogo},
                                {"report/satis.fr3", "report 2026", kServedReport},
                                {"report/alt/kasa.fr3", "", kServedNestedReport}};
    for (const char* p : {"kuvento.exe", "telvano.exe", "kvbck.exe"})
        files.push_back({p, FProgram, FProgram + kNewVersion});
    for (const char* l : kServedLibraries)
        files.push_back({l, "", served_library(l)});
    const fs::path journal = FSite.path() / "onceki-surum" / "journal.txt";

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        run_step();
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (journal_records(journal) >= kill_at) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            std::cout << "killed at journal record " << journal_records(journal) << "\n";
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }

    for (const Expected& f : files) {
        const fs::path path = FSite.path() / f.name;
        if (!fs::exists(path)) {
            EXPECT_TRUE(f.before.empty()) << f.name << " is gone";
            continue;
        }
        const std::string now = read_file(path.string());
        EXPECT_TRUE(now == f.after || (!f.before.empty() && now == f.before))
            << f.name << " is cut: " << now.size();
    }
    if (!installed_set(utf8(FSite.path())).complete) {
        EXPECT_EQ(detail(check_kept_release(), "program folder").find(" whole"), std::string::npos)
            << "a run cut off is never a whole release";
    }
    ASSERT_TRUE(os::start_program(utf8(FSite.path() / "kuvento.exe")));
    ASSERT_TRUE(wait_until([&] { return started_ids(log(), "kuvento.exe").size() == 2; }))
        << "the product starts";

    run_step();
    EXPECT_EQ(box_texts(), std::vector<std::string>{});
    EXPECT_TRUE(FApp.Terminated());
    for (const Expected& f : files)
        EXPECT_EQ(site_file(f.name), f.after) << f.name;
    EXPECT_EQ(detail(check_kept_release(), "program folder"), "holds the installed release whole");
    const std::vector<KeptFile> kept = kept_release(utf8(FSite.path()));
    EXPECT_EQ(kept.size(), files.size());
    for (const KeptFile& k : kept) {
        std::string name = k.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        auto f = std::find_if(files.begin(), files.end(), [&](const Expected& e) { return e.name == name; });
        ASSERT_NE(f, files.end()) << name;
        EXPECT_EQ(k.existed, !f->before.empty()) << name;
        if (k.existed) {
            EXPECT_EQ(read_file((FSite.path() / "onceki-surum" / f->name).string()), f->before) << name;
        }
    }
}

// Two records per file put in place: the logo, three programs, two reports and ten libraries.
INSTANTIATE_TEST_SUITE_P(JournalRecords, CrashMatrix, ::testing::Range(1, 33));

// A window with a release key installs a release signed with its private key,
// and refuses every spoilt one: nothing of it is opened or put in place, the
// running product is left alone, and the error names what did not match. A
// manifest or signature that fails stops the step before it touches anything.
class SignedRelease : public PackageStep, public ::testing::WithParamInterface<SpoiltRelease> {};

TEST_P(SignedRelease, InstallsOnlyTheWholeRelease) {
    const SpoiltRelease& c = GetParam();
    ReleaseKey key;
    release::sign_folder(utf8(FPackages->root()), read_file(key.private_file()), {"2027.1", 0, std::nullopt});
    c.spoil(FPackages->root(), key);
    FReleaseKey = key.public_pem();
    make_site("localhost", false);
    FApp.Log.Open(utf8(FSite.path() / "KVUpdate.log"), "test");
    run_step();
    FApp.Log.Close();
    // The manifest is checked first: when it fails, not even the logo is fetched.
    bool release_refused = *c.error && std::string(c.error).find("/2027/kuvento.rar") == std::string::npos;
    EXPECT_NE(site_file("KVUpdate.log")
                  .find("release: http://" + FPackages->host() + "/2027/release.txt " +
                        (release_refused ? "refused: " : "verified: ")),
              std::string::npos)
        << site_file("KVUpdate.log");

    if (!*c.error) {
        EXPECT_EQ(box_texts(), std::vector<std::string>{});
        EXPECT_TRUE(updated("kuvento.exe"));
        EXPECT_EQ(site_file("logo1024.png"), kServedLogo);
        EXPECT_TRUE(FApp.Terminated());
        return;
    }
    ASSERT_EQ(FBackend.boxes.size(), 1u);
    EXPECT_NE(FBackend.boxes[0].text.find(c.error), std::string::npos) << FBackend.boxes[0].text;
    EXPECT_FALSE(updated("kuvento.exe"));
    EXPECT_TRUE(first_still_running("kuvento.exe"));
    EXPECT_FALSE(fs::exists(FSite.path() / "update" / "kuvento.rar"));
    EXPECT_FALSE(fs::exists(FSite.path() / "update" / "kuvento.exe"));
    EXPECT_EQ(fs::exists(FSite.path() / "logo1024.png"), !release_refused);
    EXPECT_EQ(site_file("report/satis.fr3"), "report 2026");
    EXPECT_FALSE(FApp.Terminated());
    EXPECT_EQ(starts().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Releases, SignedRelease, ::testing::ValuesIn(kSpoiltReleases),
                         [](const auto& info) { return std::string(info.param.name); });

// Releases only go forward. A site that has installed 2027.5 (as the record
// beside the kept release says, or, written by an earlier build, the one in
// the program folder) is served a correctly signed older release, an expired
// one, or one without the fields: each is refused before anything is
// touched, with the numbers in the error and the run log, and the package
// check refuses it too. A newer one is installed, and the record beside the
// kept release follows it.
struct Replay {
    const char* name;
    const char* served; // the release number signed; "" the first form, without fields
    std::optional<int64_t> valid_until;
    const char* error; // "" installed
    const char* recorded_after;
    bool record_in_program_folder = false; // where an earlier build kept it
};
class ReleaseReplay : public PackageStep, public ::testing::WithParamInterface<Replay> {};

TEST_P(ReleaseReplay, OnlyANewerOrTheSameReleaseIsInstalled) {
    const Replay& c = GetParam();
    ReleaseKey key;
    const std::string root = utf8(FPackages->root());
    if (*c.served) {
        release::sign_folder(root, read_file(key.private_file()), {c.served, 1700000000, c.valid_until});
    } else {
        write_file(utf8(manifest_file(FPackages->root())), release::describe_folder(root).text());
        key.openssl_sign(manifest_file(FPackages->root()), signature_file(FPackages->root()));
    }
    FReleaseKey = key.public_pem();
    make_site("localhost", false);
    const std::string record = std::string(kKeptReleaseFolder) + "/" + release::kInstalledReleaseFile;
    const std::string earlier_record = release::kInstalledReleaseFile;
    FSite.write(c.record_in_program_folder ? earlier_record : record, "2027.5\n");
    FApp.Log.Open(utf8(FSite.path() / "KVUpdate.log"), "test");
    run_step();
    FApp.Log.Close();
    const std::string log = site_file("KVUpdate.log");
    if (std::string(c.recorded_after) != "2027.5" || !c.record_in_program_folder) {
        EXPECT_EQ(site_file(record), std::string(c.recorded_after) + "\n");
    } else {
        EXPECT_FALSE(fs::exists(FSite.path() / record));
    }
    if (c.record_in_program_folder) {
        EXPECT_EQ(site_file(earlier_record), "2027.5\n");
    }
    if (!*c.error) {
        EXPECT_EQ(box_texts(), std::vector<std::string>{});
        EXPECT_TRUE(updated("kuvento.exe"));
        EXPECT_NE(log.find("verified: release " + std::string(c.served)), std::string::npos) << log;
        return;
    }
    ASSERT_EQ(FBackend.boxes.size(), 1u);
    EXPECT_NE(FBackend.boxes[0].text.find(c.error), std::string::npos) << FBackend.boxes[0].text;
    EXPECT_NE(log.find("refused: "), std::string::npos) << log;
    EXPECT_NE(log.find(c.error), std::string::npos) << log;
    EXPECT_NE(log.find("installed at this site: 2027.5"), std::string::npos) << log;
    EXPECT_FALSE(updated("kuvento.exe"));
    EXPECT_TRUE(first_still_running("kuvento.exe"));
    EXPECT_FALSE(fs::exists(FSite.path() / "logo1024.png"));
    EXPECT_FALSE(fs::exists(FSite.path() / "update" / "kuvento.rar"));
    EXPECT_EQ(site_file("report/satis.fr3"), "report 2026");

    // kvtool check shows both numbers and fails as the step did.
    const CheckResult check = check_packages(*FForm);
    EXPECT_FALSE(check.passed);
    EXPECT_NE(check.reason.find(c.error), std::string::npos) << check.reason;
    EXPECT_EQ(detail(check, "installed release"), "2027.5");
    EXPECT_EQ(detail(check, "server release").substr(0, std::string(c.served).size() + 1),
              *c.served ? std::string(c.served) + "," : std::string("("));
}

INSTANTIATE_TEST_SUITE_P(
    Releases, ReleaseReplay,
    ::testing::Values(
        Replay{"Older", "2027.3", std::nullopt,
               "Sunucudaki sürüm 2027.3, bu sitede kurulu olan 2027.5 sürümünden eski", "2027.5"},
        Replay{"OlderThanTheEarlierRecord", "2027.3", std::nullopt,
               "Sunucudaki sürüm 2027.3, bu sitede kurulu olan 2027.5 sürümünden eski", "2027.5", true},
        Replay{"Expired", "2027.6", 1704067199,
               "Sunucudaki sürüm 2027.6 en geç 2023-12-31T23:59:59Z tarihine kadar kurulabilirdi", "2027.5"},
        Replay{"WithoutFields", "", std::nullopt, "Sürüm listesinde sürüm numarası ve imza zamanı yok",
               "2027.5"},
        Replay{"TheSame", "2027.5", std::nullopt, "", "2027.5"},
        Replay{"Newer", "2027.10", 4102444800, "", "2027.10"},
        Replay{"NewerThanTheEarlierRecord", "2027.10", 4102444800, "", "2027.10", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kv::test
