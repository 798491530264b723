// kvtool check as a technician runs it on Windows: the kvtool.exe built for
// the tests' package server, under Wine, in a site set up as the Wine runs of
// the update set it up (wine_operator.h): the Firebird network server reached
// through the client bridge deployed as the site's fbclient.dll, 7-Zip's x64
// Windows library, the release on nginx and the Windows stand-in running
// under the product's file names. A healthy site passes every check; the
// spoiled ones fail the check that foresees the step they would break, and
// the 32-bit program, under the emulated 32-bit Wine, refuses the 64-bit
// archive library beside it. The database step's backup and the 2027 schema
// check go through the bridge too, in the Turkish locale.
#include "check_report.h"
#include "db/db_query.h"
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

// What a restore must give back, read through the Linux client and the
// server: every user object of the database by kind and name (a column with
// its type, a trigger with its state), then each table with its rows.
std::vector<std::string> schema_and_rows(const std::string& database) {
    TDbConnection c;
    TDbTransaction t;
    configure(c, t, Attach::Server, database);
    TDbQuery q;
    q.SetConnection(&c);
    auto lines = [&](const std::string& sql) {
        q.SetSQL(sql);
        q.Open();
        std::vector<std::string> out;
        for (; !q.Eof(); q.Next())
            out.push_back(q.Fields(0).AsVariant().AsString());
        q.Close();
        return out;
    };
    std::vector<std::string> found = lines(
        "select 'column ' || trim(rf.rdb$relation_name) || '.' || trim(rf.rdb$field_name) || ' ' || "
        "f.rdb$field_type || ',' || coalesce(f.rdb$field_length, 0) || ',' || coalesce(f.rdb$field_scale, 0) "
        "from rdb$relation_fields rf join rdb$fields f on f.rdb$field_name = rf.rdb$field_source "
        "where coalesce(rf.rdb$system_flag, 0) = 0 "
        "union all select 'trigger ' || trim(rdb$trigger_name) || ' ' || coalesce(rdb$trigger_inactive, 0) "
        "from rdb$triggers where coalesce(rdb$system_flag, 0) = 0 "
        "union all select 'procedure ' || trim(rdb$procedure_name) from rdb$procedures "
        "where coalesce(rdb$system_flag, 0) = 0 "
        "union all select 'exception ' || trim(rdb$exception_name) from rdb$exceptions "
        "where coalesce(rdb$system_flag, 0) = 0 "
        "union all select 'sequence ' || trim(rdb$generator_name) from rdb$generators "
        "where coalesce(rdb$system_flag, 0) = 0 "
        "union all select 'index ' || trim(rdb$index_name) from rdb$indices "
        "where coalesce(rdb$system_flag, 0) = 0 and rdb$index_name not starting 'RDB$' order by 1");
    for (const std::string& table :
         lines("select trim(rdb$relation_name) from rdb$relations where "
               "coalesce(rdb$system_flag, 0) = 0 and rdb$view_blr is null order by 1"))
        found.push_back("rows " + table + " " + lines("select count(*) from \"" + table + "\"").front());
    c.Close();
    return found;
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

// The database step of the Windows build, in the Turkish locale, through the
// bridge: for a server attach and for the local attach of small sites (the
// embedded engine, by a Windows path), its backup is made beside the database
// before the first statement and restores (by gbak, here) to the database as
// it was; kvtool check then finds the 2027 schema complete, and names what an
// incomplete one lacks.
class WineDatabaseStep : public WineCheck {};

TEST_F(WineDatabaseStep, BackupBeforeTheUpgradeAndTheSchemaCheck) {
    // Wine takes the code page from LC_CTYPE and the user locale from
    // LC_MESSAGES, both from LANG here (LC_ALL unset): the programs meet code
    // page 1254 and Turkish casing, where "i" becomes the dotted capital.
    const WineLocale locale = wine_locale();
    ASSERT_EQ(locale.name, "tr-TR");
    ASSERT_EQ(locale.code_page, 1254u);
    ASSERT_EQ(locale.upper_i, "İ");

    for (const bool local : {false, true}) {
        SCOPED_TRACE(local ? "local attach" : "server attach");
        CheckScenario s(local ? "wine-backup-local" : "wine-backup-server", KV_WINE_KVTOOL);
        SiteSettingsText settings;
        if (local) settings.server = "";
        settings.local_attach = local;
        s.site.write_settings(settings);
        const std::string database = s.site.db().Path();
        const std::vector<std::string> before = schema_and_rows(database);
        ASSERT_FALSE(before.empty());

        const CheckRun fresh = run_check(s.site.dir(), wine_command() + " kvtool.exe");
        ASSERT_TRUE(fresh.report.is_object()) << fresh.output;
        const Json& lacks = check_named(fresh.report, "database")["details"]["schema: 2027 lacks"];
        EXPECT_EQ(lacks.size(), 17u) << lacks.dump() << ": every object the upgrade makes, before it";

        {
            WineUpdaterRun run(s.site.dir(),
                               fs::path(KV_E2E_ARTIFACTS) / (local ? "WineBackupLocal" : "WineBackupServer"));
            run.unlock();
            run.click(StepButton::Start); // the later step buttons open only after an error
            ASSERT_EQ(run.wait_exit(std::chrono::seconds(180)), 0);
        }
        EXPECT_EQ(s.site.upgrade_year(), "2027");

        // Named as the updater names the database, made on the database's machine beside it.
        const std::string named = (local ? wine_host().settings_path(database) : database) + ".2026.fbk";
        const fs::path backup = database + ".2026.fbk";
        ASSERT_TRUE(fs::exists(backup)) << backup;
        const std::string record = read_file((s.site.dir() / "KVUpdate.log").string());
        const size_t made = record.find("database: backup made: " + named);
        ASSERT_NE(made, std::string::npos) << record;
        EXPECT_LT(record.find("status: Veritabanı yedekleniyor.."), made) << record;
        const size_t succeeded = record.find(kUpgradeLogLine);
        ASSERT_NE(succeeded, std::string::npos) << record;
        EXPECT_LT(made, succeeded) << record;

        const std::string restored = s.site.db().Folder() + "/restored.fdb";
        run("LC_ALL=C.UTF-8 gbak -c -user SYSDBA -password " + std::string(kSiteDatabasePassword) + " " +
            e2e::quoted(backup.string()) + " " + e2e::quoted("localhost:" + restored));
        EXPECT_EQ(schema_and_rows(restored), before) << "the backup is the database before the step";
        EXPECT_EQ(scalar(Attach::Server, restored, "select yil from firmabilgi").AsInt64(), 2026);

        struct Case {
            const char* name;
            const char* spoil; // SQL run on the upgraded database, or ""
            std::vector<std::string> lacks;
        };
        const Case cases[] = {
            {"after the upgrade", "", {}},
            // Names with "i", which Turkish casing would turn into "İ".
            {"a trigger and the default row gone",
             "drop trigger silinen_ekle; delete from faturabilgi;",
             {"row of FATURABILGI with FBID 1 missing", "trigger SILINEN_EKLE missing"}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            if (*c.spoil) s.site.db().Isql(c.spoil);
            const CheckRun check = run_check(s.site.dir(), wine_command() + " kvtool.exe");
            ASSERT_TRUE(check.report.is_object()) << check.output;
            const Json& db = check_named(check.report, "database");
            EXPECT_EQ(db["details"]["year marker"], "2027") << check.output;
            if (c.lacks.empty()) {
                EXPECT_EQ(db["details"]["schema"], "2027 complete") << check.output;
                EXPECT_TRUE(db["passed"].get<bool>()) << check.output;
            } else {
                EXPECT_EQ(db["details"]["schema: 2027 lacks"], Json(c.lacks)) << check.output;
                EXPECT_FALSE(db["passed"].get<bool>());
                EXPECT_EQ(db["reason"], "the marker says 2027 but the 2027 schema lacks " +
                                            std::to_string(c.lacks.size()) +
                                            " object(s); the update would not make them");
            }
        }
    }
}

} // namespace kv::test::e2e
