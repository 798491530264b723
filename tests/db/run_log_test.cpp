// The run log's record of whole updates, run through the scripted window as
// the operator runs them: a site database on the Firebird server, a private
// nginx serving RAR5 packages, 7-Zip's library, and the stand-in program
// running under the product's names. The record must say what the window
// showed and what it did not: downloads, extractions, files put in place (or
// why not), programs stopped and started, the year marker, and the end.
#include "app/updater_fixture.h"
#include "platform/digest.h"
#include "platform/processes.h"
#include "platform/program_start.h"
#include "site_db.h"
#include "support/fake_programs.h"
#include "support/package_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

const std::string kNewVersion = "\nrelease 2027\n"; // appended to the stand-in: it still runs

class RunLogRecord : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        // Programs started here end by themselves should a test stop early.
        ::setenv("KV_FAKE_PROGRAM_LIFETIME_MS", "60000", 1);
        FStandIn = read_file(fake_program_path().string());
        FPackages = std::make_unique<PackageServer>(FStandIn + kNewVersion);
        FSite.write("kvayarlar.ini", "[BAGLANTI]\r\nSUNUCU_IP=localhost\r\nDB_ADRES=" + FDb.Path() + "\r\n");
        install_fake_program(FSite.path(), "kuventoCMX.exe");
    }
    void TearDown() override {
        for (const ProgramEvent& e : read_program_log(FSite.path() / "programs.log"))
            if (e.event == "start" && process_running(e.pid, e.name)) os::terminate_process(e.pid);
    }

    // Installs the stand-in as `name` and starts it from the site folder.
    uint32_t start_program(const std::string& name) {
        install_fake_program(FSite.path(), name);
        EXPECT_TRUE(os::start_program(utf8(FSite.path() / name)));
        const fs::path log = FSite.path() / "programs.log";
        EXPECT_TRUE(wait_until([&] { return started_ids(log, name).size() == 1; }));
        auto ids = started_ids(log, name);
        return ids.empty() ? 0 : ids.front();
    }

    // "Güncelleme Başla" with the log open, then the end of the program;
    // returns the record's lines.
    std::vector<std::string> run_update() {
        TForm1Config config = test_config();
        config.PackageHost = FPackages->host();
        FUpdater = std::make_unique<Updater>(std::move(config), true);
        FUpdater->unlock();
        EXPECT_TRUE(FUpdater->backend.click("Button4"));
        FUpdater->app.Log.Close();
        std::string text = read_file(utf8(FSite.path() / "KVUpdate.log"));
        EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << "UTF-8 with its mark, for Notepad";
        text.erase(0, 3);
        std::vector<std::string> lines;
        for (size_t at = 0, end; at < text.size(); at = end + 2) {
            end = text.find("\r\n", at);
            EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
            if (end == std::string::npos) break;
            lines.push_back(text.substr(at, end - at));
        }
        return lines;
    }

    std::string site(const std::string& name) const { return os::current_directory() + "\\" + name; }
    std::string update(const std::string& name) const { return site("update\\\\" + name); }
    std::string url(const std::string& package) const {
        return "http://" + FPackages->host() + "/2027/" + package;
    }
    static std::string sha(const fs::path& file) { return os::sha256_of_file(utf8(file)).value_or("?"); }
    std::string facts(const std::string& content, const fs::path& file) const {
        return std::to_string(content.size()) + " bytes, sha256 " + sha(file);
    }

    std::string FStandIn;
    std::unique_ptr<PackageServer> FPackages;
    SiteDb FDb;
    SiteFolder FSite;
    std::unique_ptr<Updater> FUpdater;
};

// The events after the time each line begins with, in order.
std::vector<std::string> events(const std::vector<std::string>& lines) {
    const std::regex timed(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  (.*)$)");
    std::vector<std::string> out;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(lines[i], m, timed)) << lines[i];
        out.push_back(m.size() > 1 ? m[1].str() : lines[i]);
    }
    return out;
}

// Whether `wanted` appear in `events` in this order (others may come between).
::testing::AssertionResult in_order(const std::vector<std::string>& events,
                                    const std::vector<std::string>& wanted) {
    auto at = events.begin();
    for (const std::string& w : wanted) {
        at = std::find(at, events.end(), w);
        if (at == events.end()) return ::testing::AssertionFailure() << "missing or out of order: " << w;
        ++at;
    }
    return ::testing::AssertionSuccess();
}

bool has_prefix(const std::vector<std::string>& events, const std::string& prefix) {
    return std::any_of(events.begin(), events.end(),
                       [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

} // namespace

TEST_F(RunLogRecord, NormalRun) {
    const uint32_t kuvento = start_program("kuvento.exe");
    const fs::path served = FPackages->package("kuvento.rar");
    const std::string old_product = FStandIn;
    const std::string old_facts = facts(old_product, FSite.path() / "kuvento.exe");
    const std::string kept = utf8(FSite.path() / "onceki-surum" / "kuvento.exe");

    const std::vector<std::string> lines = run_update();

    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(R"(^==== \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  KV Update 2027 )" +
                             std::string(KV_VERSION) + " started in .*$")))
        << lines[0];
    const std::vector<std::string> e = events(lines);
    EXPECT_TRUE(in_order(
        e, {"setting: ServerAddress = \"localhost\"",
            "setting: DatabasePath = \"" + FDb.Path() + "\"",
            "pressed: Güncelleme Başla",
            "stopped: kuvento.exe, process " + std::to_string(kuvento),
            "year marker: before the database step: 2026",
            "log line: 2027 Database güncellemesi Başarı ile tamamlandı..",
            "year marker: after the database step: 2027",
            "status: Kuvento İndiriliyor..",
            "download: " + url("kuvento.rar") + " into " + update("kuvento.rar") + ": complete, " +
                facts(read_file(utf8(served)), served),
            "extract: " + update("kuvento.rar") + " into " + os::current_directory() + "\\update\\: complete",
            "item: kuvento.exe, " + std::to_string(FStandIn.size() + kNewVersion.size()) + " bytes",
            "status: Kuvento Kopyalanıyor",
            "put in place: " + site("kuvento.exe") + " (replaced, the old file kept): now " +
                facts(FStandIn + kNewVersion, FSite.path() / "kuvento.exe"),
            "status: Raporlar İndiliyor..",
            "item: alt/kasa.fr3, " + std::to_string(std::string(kServedNestedReport).size()) + " bytes",
            "put in place: " + site("midas.dll") + " (added): now " +
                facts(served_library("midas.dll"), FSite.path() / "midas.dll"),
            "status: İndirmeler Tamamlandı",
            "started: " + site("kuventoCMX.exe"),
            "started: " + site("kuvento.exe"),
            "step ended: Güncelleme Başla: complete",
            "run ended: Güncelleme Başla: complete"}));
    EXPECT_EQ(e.back(), "run ended: Güncelleme Başla: complete");
    EXPECT_FALSE(has_prefix(e, "error box")) << "a normal run shows no error";
    EXPECT_FALSE(has_prefix(e, "not put in place"));
    EXPECT_EQ(facts(old_product, kept), old_facts) << "the replaced program is kept";
}

TEST_F(RunLogRecord, FailedDownload) {
    fs::remove(FPackages->package("telvano.rar"));

    const std::vector<std::string> e = events(run_update());

    ASSERT_EQ(FUpdater->backend.boxes.size(), 1u);
    const std::string shown = FUpdater->backend.boxes[0].text;
    EXPECT_TRUE(in_order(e, {"status: Mobil ve Yedekleme Indiriliyor..",
                             "download: " + url("telvano.rar") + " into " + update("telvano.rar") +
                                 ": failed: HTTP/1.1 404 Not Found; on disk: missing",
                             "error box: " + shown}));
    EXPECT_FALSE(has_prefix(e, "status: Raporlar")) << "the step ends with the failed package";
    EXPECT_FALSE(has_prefix(e, "started: "));
    EXPECT_TRUE(has_prefix(e, "run ended: Güncelleme Başla: failed: "));
}

// A file that cannot be put in place ends the step with the error box; the
// log says which file, why, and what it holds afterwards.
TEST_F(RunLogRecord, TargetThatCannotBeReplaced) {
    const fs::path held = FSite.write("midas.dll", "client 2026");
    ASSERT_TRUE(os::set_read_only(utf8(held), true));
    const std::string before = facts("client 2026", held);

    const std::vector<std::string> e = events(run_update());

    ASSERT_EQ(FUpdater->backend.boxes.size(), 1u);
    const std::string shown = FUpdater->backend.boxes[0].text;
    const std::string reason =
        "Cannot put file \"" + site("midas.dll") + "\" in place. " + os::system_error_text(EACCES);
    EXPECT_EQ(shown, reason + ".");
    EXPECT_EQ(read_file(utf8(held)), "client 2026");
    EXPECT_TRUE(
        in_order(e, {"status: DLL ler Kopyalanıyor",
                     "put in place: " + site("libssh2.dll") + " (added): now " +
                         facts(served_library("libssh2.dll"), FSite.path() / "libssh2.dll"),
                     "not put in place: " + site("midas.dll") + ": " + reason + "; it holds " + before,
                     "error box: " + shown, "run ended: Güncelleme Başla: failed: " + reason}));
    EXPECT_FALSE(has_prefix(e, "started: "));
    EXPECT_FALSE(fs::exists(FSite.path() / "ssleay.dll")) << "the libraries after it are not put in place";
}

} // namespace kv::test
