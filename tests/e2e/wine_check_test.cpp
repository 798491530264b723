// kvtool check as a technician runs it on Windows: the kvtool.exe built for
// the tests' package server, under Wine, in a site set up as the Wine runs of
// the update set it up (wine_operator.h): the Firebird network server reached
// through the client bridge deployed as the site's fbclient.dll, 7-Zip's x64
// Windows library, the release on nginx and the Windows stand-in running
// under the product's file names. A healthy site passes every check; the
// spoiled ones fail the check that foresees the step they would break, and
// the 32-bit program, under the emulated 32-bit Wine, refuses the 64-bit
// archive library beside it.
#include "check_report.h"
#include "platform/files.h"
#include "wine_operator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>

namespace kv::test::e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// The release on the package server and a site with the updater, its
// libraries and `kvtool` (a Windows build) in the program folder.
struct CheckScenario {
    Release release{wine_host()};
    PackageServer server{release};
    Site site;

    CheckScenario(const std::string& tag, const fs::path& kvtool) : site(tag, wine_host()) {
        site.write_settings({});
        wine_host().install_updater(site.dir());
        fs::copy_file(kvtool, site.dir() / "kvtool.exe");
    }
};

// The peers are started by scripts/test; without them the tests fail, never
// skip, and never let Wine make a prefix of its own.
class WineCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_THROW(require_wine_peers());
        ASSERT_TRUE(fs::exists(KV_WINE_KVTOOL)) << KV_WINE_KVTOOL << " is missing (the win64 build makes it)";
    }
};

// 32-bit Wine runs in its root through scripts/wine32, in a prefix of its own.
class Wine32Check : public WineCheck {
protected:
    void SetUp() override {
        WineCheck::SetUp();
        const char* prefix = std::getenv("KV_WINE32_PREFIX");
        ASSERT_TRUE(prefix && fs::exists(fs::path(prefix) / "system.reg"))
            << "KV_WINE32_PREFIX names no prepared 32-bit Wine prefix (scripts/test makes one)";
        ASSERT_TRUE(fs::exists(KV_WINE32_KVTOOL))
            << KV_WINE32_KVTOOL << " is missing (the win32 build makes it)";
        FPrefix = prefix;
    }
    std::string FPrefix;
};

// Every file of the program folder with its bytes, leaving out what the
// programs write as they run and what the update keeps for itself.
std::map<std::string, std::string> program_files(const fs::path& site) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(site); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = fs::relative(it->path(), site).generic_string();
        if (it->is_directory() && (name == "update" || name == "onceki-surum")) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file() && name != "KVUpdate.log" && name != "programs.log")
            files[name] = read_file(it->path().string());
    }
    return files;
}

// kvtool rollback as a technician runs it in the program folder; its exit
// status and what it printed (through a file: a Wine service may keep a pipe open).
CheckRun run_rollback(const fs::path& folder) {
    const ScratchDir out("rollback");
    const std::string printed = (out.path() / "out.txt").string();
    CheckRun run;
    run.status = shell("cd " + e2e::quoted(folder.string()) + " && " + wine_command() +
                       " kvtool.exe rollback </dev/null >" + e2e::quoted(printed) + " 2>&1")
                     .status;
    run.output = read_file(printed);
    return run;
}

} // namespace

TEST_F(WineCheck, HealthySitePasses) {
    CheckScenario s("wine-check-healthy", KV_WINE_KVTOOL);
    s.site.start_programs();
    const std::vector<std::string> before = folder_listing(s.site.dir());

    const CheckRun run = run_check(s.site.dir(), wine_command() + " kvtool.exe");
    EXPECT_EQ(folder_listing(s.site.dir()), before) << "the check changes nothing in the program folder";

    ASSERT_TRUE(run.report.is_object()) << run.output;
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(failed_checks(run.report), std::vector<std::string>{}) << run.output;
    const Json& db = check_named(run.report, "database");
    EXPECT_EQ(db["details"]["year marker"], "2026");
    EXPECT_EQ(db["details"]["upgrade"], "would run");
    EXPECT_EQ(db["details"]["other attachments"], Json::array());
    const Json& client = check_named(run.report, "client library")["details"];
    EXPECT_EQ(client["file"], wine_host().settings_path(s.site.dir() / "fbclient.dll"));
    EXPECT_EQ(client["build"], "64-bit");
    EXPECT_NE(client["version"].get<std::string>().find("Firebird"), std::string::npos) << client;
    const Json& archive = check_named(run.report, "archive library")["details"];
    EXPECT_EQ(archive["file"], wine_host().settings_path(s.site.dir() / "7z.dll"));
    EXPECT_EQ(archive["handler"], "RAR5");
    const Json& packages = check_named(run.report, "package server")["packages"];
    ASSERT_EQ(packages.size(), 6u) << "the logo and the five packages of a server with printing";
    EXPECT_EQ(packages[3]["files"], Json::array({"Fatura/efatura.fr3", "satis.fr3"}));
    EXPECT_EQ(packages[5]["files"].size(), kLibraries.size());
    int64_t library_bytes = 0;
    for (const Rar5Item& item : s.release.packages.at("dll.rar"))
        library_bytes += int64_t(item.data.size());
    EXPECT_EQ(packages[5]["extracted_bytes"], library_bytes) << "every compressed item extracted whole";
    EXPECT_EQ(check_named(run.report, "programs")["details"]["running"].size(), kStoppedPrograms.size());
}

// Each spoiled site fails exactly the check that foresees what would break.
TEST_F(WineCheck, SpoiledSitesFailTheirCheck) {
    struct Case {
        const char* name;
        // Spoils the site; what it returns keeps the spoiling until the case ends.
        std::function<std::shared_ptr<void>(Site&, PackageServer&)> spoil;
        const char* failing;
        std::string reason; // how the failing check's reason starts
    };
    const Case cases[] = {
        {"a program file held open by a program the update does not stop",
         [](Site& site, PackageServer&) {
             write_file((site.dir() / "libmysql.dll").string(), "old library");
             return std::make_shared<HeldFile>(site.dir(), "libmysql.dll");
         },
         "program folder", "libmysql.dll: "},
        {"a read-only program file",
         [](Site& site, PackageServer&) {
             write_file((site.dir() / "gds32.dll").string(), "old library");
             os::set_read_only((site.dir() / "gds32.dll").string(), true);
             return nullptr;
         },
         "program folder", "gds32.dll: read-only"},
        {"a package missing on the server",
         [](Site&, PackageServer& server) {
             server.remove("telvano.rar");
             return nullptr;
         },
         "package server", "telvano.rar: HTTP/1.1 404 Not Found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckScenario s("wine-check-spoiled", KV_WINE_KVTOOL);
        const std::shared_ptr<void> spoiled = c.spoil(s.site, s.server);

        const CheckRun run = run_check(s.site.dir(), wine_command() + " kvtool.exe");

        ASSERT_TRUE(run.report.is_object()) << run.output;
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(failed_checks(run.report), std::vector<std::string>{c.failing}) << run.output;
        const std::string reason = check_named(run.report, c.failing)["reason"];
        EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason) << reason;
    }
}

// The 32-bit program (the deployable's kind) with the x64 7-Zip library
// beside it: the library cannot be loaded, and the check says why. The
// database is not asserted on: the site's client library is the 64-bit
// bridge, which the 32-bit program cannot load either.
TEST_F(Wine32Check, SixtyFourBitArchiveLibraryBesideTheProgram) {
    CheckScenario s("wine32-check", KV_WINE32_KVTOOL);

    const CheckRun run = run_check(
        s.site.dir(), "env -u LC_ALL LANG=tr_TR.UTF-8 WINEDEBUG=-all WINEPREFIX=" + e2e::quoted(FPrefix) +
                          " " + e2e::quoted(KV_WINE32) + " kvtool.exe");

    ASSERT_TRUE(run.report.is_object()) << run.output;
    EXPECT_NE(run.status, 0);
    EXPECT_FALSE(run.report["passed"].get<bool>());
    const Json& archive = check_named(run.report, "archive library");
    EXPECT_FALSE(archive["passed"].get<bool>());
    const std::string file = wine_host().settings_path(s.site.dir() / "7z.dll");
    EXPECT_EQ(archive["reason"], file + " is a 64-bit build; the updater is 32-bit and cannot load it");
    EXPECT_EQ(archive["details"]["build"], "64-bit");
    EXPECT_EQ(archive["details"]["updater"], "32-bit");
}

// After a whole update under Wine, kvtool rollback stops the product and puts
// back exactly the files the program folder held before, without the network;
// once a kept file was altered it refuses and changes nothing.
TEST_F(WineCheck, RollbackPutsTheEarlierReleaseBack) {
    CheckScenario s("wine-rollback", KV_WINE_KVTOOL);
    s.site.start_programs();
    std::map<std::string, std::string> before = program_files(s.site.dir());
    for (const std::string& cached : kCachedSettings) // the start-update step's, not the packages'
        before.erase(cached);
    {
        WineUpdaterRun run(s.site.dir(), fs::path(KV_E2E_ARTIFACTS) / "WineRollback");
        run.unlock();
        run.click(StepButton::Start);
        ASSERT_EQ(run.wait_exit(std::chrono::seconds(180)), 0);
    }
    ASSERT_NE(program_files(s.site.dir()), before) << "the update changed nothing";

    const CheckRun back = run_rollback(s.site.dir());
    EXPECT_EQ(back.status, 0) << back.output;
    EXPECT_EQ(program_files(s.site.dir()), before) << back.output;

    write_file((s.site.dir() / "onceki-surum" / "kuvento.exe").string(), "altered");
    const CheckRun refused = run_rollback(s.site.dir());
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("onceki-surum\\kuvento.exe\" does not match"), std::string::npos)
        << refused.output;
    EXPECT_EQ(program_files(s.site.dir()), before);
}

} // namespace kv::test::e2e
