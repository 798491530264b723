// The database upgrade step in the update chain, through the scripted window,
// against real site databases: the operator unlocks the window and presses
// "Güncelleme Başla"; the start step hands over to the upgrade step, which
// hands over to the package step in every outcome. The package host serves
// every package whole, so the package step succeeds (and asks the updater to
// end) and any box after the chain is the database step's own.
#include "app/updater_fixture.h"
#include "site_db.h"
#include "support/command.h"
#include "support/package_server.h"
#include "workflow/upgrade_script.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kv::test {
namespace {

const char* const kLogLine = "2027 Database güncellemesi Başarı ile tamamlandı..";
const char* const kNotice = "2027 güncellemesi yapılmış. işlem iptal edilecek";
// What the served packages put in place of the product's programs: no
// program, so the restart starts nothing.
const char* const kPackagedProgram = "kuvento 2027";

TForm1Config served_by(const PackageServer& packages) {
    TForm1Config config = test_config();
    config.PackageHost = packages.host();
    return config;
}

// A site database, a site folder whose settings point the updater at it, and
// the package host.
struct Chain {
    explicit Chain(Attach how = Attach::Server) : how(how) {}

    // Starts the updater and runs the chain from "Güncelleme Başla". `server`
    // overrides SUNUCU_IP. A marker in the update folder shows whether the
    // package step ran: it empties that folder first.
    void press_start(const std::string* server = nullptr) {
        const std::string server_ip = server ? *server : how == Attach::Server ? "localhost" : "";
        folder.write("kvayarlar.ini",
                     "[BAGLANTI]\r\nSUNUCU_IP=" + server_ip + "\r\nDB_ADRES=" + db.Path() + "\r\n");
        folder.write("update/marker");
        updater.reset(); // an earlier run's application lets go of the error box first
        package_step_ran_before_box.clear();
        updater = std::make_unique<Updater>(served_by(packages), run_log);
        updater->backend.on_box = [this](const window::BoxRecord&) {
            package_step_ran_before_box.push_back(package_step_ran());
            if (package_step_ran_before_box.size() == 1 && at_first_box) at_first_box();
        };
        updater->unlock();
        ASSERT_TRUE(updater->backend.click("Button4"));
    }
    bool package_step_ran() const { return !std::filesystem::exists(folder.path() / "update" / "marker"); }
    // Whether the package step went through: the product and the logo are
    // the served ones, and the updater was asked to end.
    bool package_step_finished() {
        return holds("kuvento.exe", kPackagedProgram) && holds("logo1024.png", kServedLogo) &&
               updater->app.Terminated();
    }
    bool holds(const char* name, const std::string& content) const {
        const std::filesystem::path file = folder.path() / name;
        return std::filesystem::exists(file) && read_file(utf8(file)) == content;
    }
    TForm1& form() { return *updater->form; }
    const std::vector<window::BoxRecord>& boxes() { return updater->backend.boxes; }
    std::vector<std::string> log() { return form().Memo1.Lines(); }

    Variant scalar(const std::string& sql) { return test::scalar(how, db.Path(), sql); }
    int64_t count(const std::string& from_where) { return row_count(how, db.Path(), from_where); }
    bool has_relation(const std::string& name) { return test::has_relation(how, db.Path(), name); }

    Attach how;
    PackageServer packages{kPackagedProgram};
    SiteDb db;
    SiteFolder folder;
    std::unique_ptr<Updater> updater;
    std::vector<bool> package_step_ran_before_box;
    std::function<void()> at_first_box; // runs while the first box of a run is open
    bool run_log = false;               // the updater writes KVUpdate.log in the site folder
};

class UpgradeStep : public ::testing::TestWithParam<Attach> {};

} // namespace

TEST_P(UpgradeStep, UpgradesOnceThenRefusesWithTheNotice) {
    Chain chain(GetParam());
    chain.db.Isql("insert into firmabilgi (firmaadi, yil) values ('Ikinci', 2024);");
    chain.press_start();
    // On Windows the package step replaces the client library's files, which
    // cannot be done while the process still has them loaded.
    EXPECT_FALSE(client_library_loaded()) << "the database step let the client library go";

    EXPECT_TRUE(chain.boxes().empty()) << chain.boxes().front().text;
    EXPECT_EQ(chain.log(), std::vector<std::string>{kLogLine});
    EXPECT_TRUE(chain.package_step_ran());
    EXPECT_TRUE(chain.package_step_finished());
    EXPECT_TRUE(chain.form().Button5.Enabled());
    EXPECT_FALSE(chain.form().ibdb1.Connected());
    EXPECT_EQ(chain.count("firmabilgi where yil = 2027"), 2);
    EXPECT_EQ(chain.count("faturabilgi"), 1);
    EXPECT_EQ(chain.scalar("select fbid from faturabilgi"), 1);
    for (const char* table : {"EF_SERI", "EF_GIDEN", "EF_GELEN", "KAMPANYA_BILGI"})
        EXPECT_TRUE(chain.has_relation(table)) << table;
    EXPECT_EQ(chain.count("rdb$procedures where rdb$procedure_name = 'STOK_SAY'"), 1);

    // "SQL Çalıştır" again: the notice, then the package step once more.
    chain.folder.write("update/marker");
    std::filesystem::remove(chain.folder.path() / "kuvento.exe");
    bool loaded_at_notice = false;
    chain.updater->backend.on_box = [&](const window::BoxRecord&) {
        chain.package_step_ran_before_box.push_back(chain.package_step_ran());
        loaded_at_notice = client_library_loaded();
    };
    ASSERT_TRUE(chain.updater->backend.click("Button3"));
    EXPECT_TRUE(loaded_at_notice) << "the second run loads the client library again";
    EXPECT_FALSE(client_library_loaded());
    ASSERT_EQ(chain.boxes().size(), 1u);
    EXPECT_EQ(chain.boxes()[0].text, kNotice);
    EXPECT_EQ(chain.boxes()[0].icon, window::BoxIcon::None);
    EXPECT_FALSE(chain.package_step_ran_before_box[0]) << "the notice comes before the hand-over";
    EXPECT_TRUE(chain.package_step_ran());
    EXPECT_TRUE(chain.package_step_finished());
    EXPECT_EQ(chain.log().size(), 1u);
    EXPECT_EQ(chain.count("faturabilgi"), 1);
}

TEST(UpgradeStep, YearMarkerDecides) {
    struct Case {
        const char* name;
        const char* rows; // statements that leave FIRMABILGI as the case needs
        bool upgrades;
    };
    const Case cases[] = {
        {"marker 2027", "update firmabilgi set yil = 2027;", false},
        {"no row", "delete from firmabilgi;", true},
        {"null marker", "update firmabilgi set yil = null;", true},
        {"first of several rows is 2027",
         "delete from firmabilgi; insert into firmabilgi (firmaadi, yil) values ('A', 2027);"
         " insert into firmabilgi (firmaadi, yil) values ('B', 2026);",
         false},
        {"first of several rows is not 2027",
         "delete from firmabilgi; insert into firmabilgi (firmaadi, yil) values ('A', 2026);"
         " insert into firmabilgi (firmaadi, yil) values ('B', 2027);",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Chain chain;
        chain.db.Isql(c.rows);
        chain.press_start();
        EXPECT_TRUE(chain.package_step_ran());
        EXPECT_TRUE(chain.package_step_finished());
        EXPECT_TRUE(chain.form().Button5.Enabled());
        EXPECT_EQ(chain.has_relation("EF_SERI"), c.upgrades) << "no statement is sent when refused";
        if (c.upgrades) {
            EXPECT_TRUE(chain.boxes().empty());
            EXPECT_EQ(chain.log(), std::vector<std::string>{kLogLine});
            EXPECT_EQ(chain.count("firmabilgi where yil is distinct from 2027"), 0);
        } else {
            ASSERT_EQ(chain.boxes().size(), 1u);
            EXPECT_EQ(chain.boxes()[0].text, kNotice);
            EXPECT_TRUE(chain.log().empty());
        }
    }
}

// The script's own CREATE TABLE of EF_SERI, for a database that already has
// the table as the upgrade makes it.
std::string script_statement(const std::string& head) {
    const std::string& script = upgrade_script();
    const size_t from = script.find(head);
    return script.substr(from, script.find(";", from) + 1 - from);
}

// A statement of the script fails; the schema check decides what the marker
// says. Each cause is then mended and the next run completes the upgrade
// without a second default row.
TEST_P(UpgradeStep, FailedStatementsAndTheSchemaCheck) {
    struct Case {
        const char* name;
        std::string cause;     // isql statements, run before the update
        const char* box;       // a part of the box shown while the script runs
        std::string error;     // a part of the step's error, shown after the package step; empty: none
        const char* mend;      // isql statements that remove the cause
        bool held_row = false; // another attachment holds an uncommitted update of FIRMABILGI
    };
    const Case cases[] = {
        {"EF_SERI with the script's shape", script_statement("CREATE TABLE EF_SERI"),
         "Table EF_SERI already exists", "", ""},
        {"EF_SERI with other columns", "create table ef_seri (x integer);", "Table EF_SERI already exists",
         "2027 Database güncellemesi tamamlanamadı. Eksik nesneler: table EF_SERI: column BELGETURU missing, "
         "column YIL missing, column PREFIX missing, column SONNO missing",
         "drop table ef_seri;"},
        // A view on the column does not stop its change in Firebird 3; an index
        // too long for the new size does, at the commit, which stops the run.
        {"obrk2 held by an index", "create index ix_obrk2 on urunler (obrk2);", nullptr,
         "key size exceeds implementation restriction for index \"IX_OBRK2\"\r2027 Database güncellemesi "
         "tamamlanamadı. Eksik nesneler: table URUNLER: column OBRK2 is VARCHAR(100), not VARCHAR(7000); "
         "procedure SP_URUN_BILGI_GUNCELLE missing",
         "drop index ix_obrk2;"},
        {"FIRMABILGI held by another workstation", "", "update conflicts with concurrent update",
         "2027 yıl işareti yazılamadı: deadlock", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Chain chain(GetParam());
        if (!c.cause.empty()) chain.db.Isql(c.cause);
        TDbConnection other;
        TDbTransaction other_t;
        if (c.held_row) {
            configure(other, other_t, GetParam(), chain.db.Path());
            TDbSQL update;
            update.SetConnection(&other);
            update.AutoCommit = false;
            update.SetSQL("update firmabilgi set firmaadi = 'Kasa 2'");
            update.Execute(); // stays uncommitted
        }
        chain.press_start();
        ASSERT_FALSE(chain.boxes().empty());
        if (c.box) {
            EXPECT_NE(chain.boxes()[0].text.find(c.box), std::string::npos) << chain.boxes()[0].text;
            EXPECT_FALSE(chain.package_step_ran_before_box[0]) << "shown while the script runs";
        }
        EXPECT_TRUE(chain.package_step_finished());
        const bool failed = chain.package_step_ran_before_box.back();
        if (c.error.empty()) {
            EXPECT_FALSE(failed) << chain.boxes().back().text;
            EXPECT_EQ(chain.log(), std::vector<std::string>{kLogLine});
            EXPECT_EQ(chain.scalar("select yil from firmabilgi"), 2027);
            continue;
        }
        ASSERT_TRUE(failed) << "the step ends with an error";
        EXPECT_NE(chain.boxes().back().text.find(c.error), std::string::npos) << chain.boxes().back().text;
        EXPECT_EQ(chain.log().size(), 1u);
        EXPECT_EQ(chain.log()[0].rfind("2027 Database güncellemesi tamamlanamadı: ", 0), 0u)
            << chain.log()[0];
        EXPECT_EQ(chain.scalar("select yil from firmabilgi"), 2026);
        EXPECT_EQ(chain.has_relation("EF_GIDEN"), c.box != nullptr)
            << "the statements after a failed one run";

        if (c.held_row) {
            other_t.Rollback();
            other.Close();
        }
        if (*c.mend) chain.db.Isql(c.mend);
        chain.press_start();
        EXPECT_TRUE(std::ranges::none_of(chain.package_step_ran_before_box, std::identity()))
            << "no error after the package step: " << chain.boxes().back().text;
        EXPECT_EQ(chain.log(), std::vector<std::string>{kLogLine});
        EXPECT_EQ(chain.scalar("select yil from firmabilgi"), 2027);
        EXPECT_EQ(chain.count("faturabilgi"), 1) << "a re-run adds no second default row";
    }
}

// The backup the step makes before the script, restored into a new database
// by gbak through the server: it is the database as it was before the run.
// A second run at the same marker keeps it.
TEST_P(UpgradeStep, BackupComesFirstAndIsKept) {
    Chain chain(GetParam());
    chain.run_log = true;
    chain.db.Isql("create table ef_seri (x integer);"); // the first run leaves the marker at 2026
    const int64_t products = chain.count("urunler");
    chain.press_start();
    const std::filesystem::path backup = chain.db.Path() + ".2026.fbk";
    ASSERT_TRUE(std::filesystem::exists(backup));
    EXPECT_FALSE(std::filesystem::exists(backup.string() + ".part"));
    EXPECT_EQ(chain.scalar("select yil from firmabilgi"), 2026);
    const std::string first = read_file(backup.string());
    {
        // The run log's order: the backup, then the script's first statement (its error box).
        const std::string record = read_file(utf8(chain.folder.path() / "KVUpdate.log"));
        const size_t made = record.find("database: backup made: " + backup.string());
        ASSERT_NE(made, std::string::npos) << record;
        EXPECT_LT(record.find("status: Veritabanı yedekleniyor.."), made);
        EXPECT_LT(made, record.find("error box: unsuccessful metadata update"));
    }

    chain.db.Isql("drop table ef_seri;");
    chain.press_start();
    EXPECT_EQ(chain.log(), std::vector<std::string>{kLogLine});
    EXPECT_EQ(read_file(backup.string()), first) << "the first backup at 2026 is kept";
    EXPECT_FALSE(std::filesystem::exists(chain.db.Path() + ".2027.fbk"));

    const std::string restored = chain.db.Folder() + "/restored.fdb";
    run("LC_ALL=C.UTF-8 gbak -c -user SYSDBA -password " + std::string(kSiteDatabasePassword) + " " +
        backup.string() + " localhost:" + restored);
    EXPECT_EQ(row_count(Attach::Server, restored, "firmabilgi where yil = 2026"), 1);
    EXPECT_EQ(row_count(Attach::Server, restored, "urunler"), products);
    EXPECT_TRUE(test::has_relation(Attach::Server, restored, "EF_SERI")) << "the table the site had";
    EXPECT_FALSE(test::has_relation(Attach::Server, restored, "EF_GIDEN")) << "taken before the script";
    EXPECT_FALSE(test::has_relation(Attach::Server, restored, "FATURABILGI"));
}

// When the backup cannot be written no statement of the script runs; the
// chain goes on and the step's error is shown after it.
TEST_P(UpgradeStep, NoStatementRunsWithoutABackup) {
    Chain chain(GetParam());
    std::filesystem::create_directory(chain.db.Path() + ".2026.fbk.part"); // the engine cannot write there
    chain.press_start();
    ASSERT_EQ(chain.boxes().size(), 1u);
    EXPECT_EQ(chain.boxes()[0].text.rfind("Veritabanı yedeklenemedi (" + chain.db.Path() + ".2026.fbk): ", 0),
              0u)
        << chain.boxes()[0].text;
    EXPECT_TRUE(chain.package_step_ran_before_box[0]);
    EXPECT_TRUE(chain.package_step_finished());
    EXPECT_TRUE(chain.log().empty());
    EXPECT_EQ(chain.scalar("select yil from firmabilgi"), 2026);
    EXPECT_FALSE(chain.has_relation("EF_GIDEN"));
    EXPECT_EQ(chain.count("rdb$procedures where rdb$procedure_name = 'STOK_SAY'"), 0);
    EXPECT_FALSE(std::filesystem::exists(chain.db.Path() + ".2026.fbk"));
}

// The schema and the rows a rollback must give back, as one text.
std::string schema_and_rows(Chain& chain) {
    struct Listed {
        const char* item;
        const char* rows;
    };
    std::string text;
    for (const Listed& l : {
             Listed{"trim(rdb$relation_name)", "rdb$relations where rdb$system_flag = 0"},
             Listed{"trim(rdb$relation_name) || '.' || trim(rdb$field_name) || ':' || trim(rdb$field_source)",
                    "rdb$relation_fields where rdb$system_flag = 0"},
             Listed{"trim(rdb$procedure_name)", "rdb$procedures"},
             Listed{"trim(rdb$trigger_name)", "rdb$triggers where rdb$system_flag = 0"},
             Listed{"firmaadi || ':' || coalesce(yil, 'null')", "firmabilgi"},
         })
        text += display_text(
                    chain.scalar(std::string("select cast(list(x, ',') as varchar(30000)) from (select ") +
                                 l.item + " as x from " + l.rows + " order by 1)")) +
                "\n";
    return text;
}

// kvtool rollback --database after a whole update: refused without --yes and
// while another attachment holds the database, changing nothing; then the
// files and the database of before come back, and only the restored file is
// left beside the backup.
TEST_P(UpgradeStep, RollbackBringsTheDatabaseBack) {
    Chain chain(GetParam());
    chain.db.Isql("insert into firmabilgi (firmaadi, yil) values ('Ikinci', 2026);");
    const std::string before = schema_and_rows(chain);
    chain.press_start();
    ASSERT_TRUE(chain.package_step_finished());
    chain.updater.reset();
    ASSERT_EQ(chain.scalar("select yil from firmabilgi"), 2027);
    chain.db.Isql("insert into firmabilgi (firmaadi, yil) values ('Sonra', 2027);");
    const std::string after = schema_and_rows(chain);
    auto rollback = [&](const std::string& args) {
        const std::string err = (chain.folder.path() / "stderr.txt").string();
        const CommandRun run =
            run_command(std::string(KV_BIN_DIR) + "/kvtool rollback " + args + " 2>" + err);
        return std::make_pair(run, read_file(err));
    };
    const std::string warning = "kvtool rollback: The database " + chain.db.Path() +
                                " goes back to the backup " + chain.db.Path() + ".2026.fbk, made on ";

    auto [asked, asked_err] = rollback("--database");
    EXPECT_EQ(asked.status, 1);
    EXPECT_EQ(asked_err.rfind(warning, 0), 0u) << asked_err;
    EXPECT_NE(
        asked_err.find("everything written to the database since then is lost. Nothing was changed; run "
                       "again with --yes"),
        std::string::npos)
        << asked_err;
    {
        TDbConnection other;
        TDbTransaction t;
        configure(other, t, GetParam(), chain.db.Path());
        other.Open();
        auto [refused, refused_err] = rollback("--database --yes");
        EXPECT_EQ(refused.status, 1);
        const char* why = GetParam() == Attach::Server
                              ? "The database is in use; close these attachments first: \"127.0.0.1/"
                              : "Cannot open the database to check that nothing else uses it: ";
        EXPECT_NE(refused_err.find(why), std::string::npos) << refused_err;
        if (GetParam() == Attach::Server) {
            EXPECT_NE(refused_err.find("upgrade_step_test\" (\"SYSDBA\")"), std::string::npos) << refused_err;
        }
        // Our own attachment ends before the way back shuts the database down.
        other.Close();
    }
    EXPECT_EQ(schema_and_rows(chain), after);
    EXPECT_TRUE(chain.holds("kuvento.exe", kPackagedProgram));

    auto [done, done_err] = rollback("--database --yes");
    EXPECT_EQ(done.status, 0) << done_err;
    EXPECT_NE(done.out.find("\"restored_from\":\"" + chain.db.Path() + ".2026.fbk\""), std::string::npos)
        << done.out;
    EXPECT_EQ(schema_and_rows(chain), before);
    EXPECT_FALSE(chain.holds("kuvento.exe", kPackagedProgram));
    std::vector<std::string> beside;
    for (const auto& e : std::filesystem::directory_iterator(chain.db.Folder()))
        if (e.path().filename().string().rfind("site.fdb", 0) == 0)
            beside.push_back(e.path().filename().string());
    std::sort(beside.begin(), beside.end());
    // A local database as it was before the way back stays beside it.
    std::vector<std::string> expected{"site.fdb", "site.fdb.2026.fbk"};
    if (GetParam() == Attach::Embedded) expected.push_back("site.fdb.geri-almadan-once");
    EXPECT_EQ(beside, expected);
    EXPECT_TRUE(server_answers()) << "the private server still takes logins";
}

INSTANTIATE_TEST_SUITE_P(Attach, UpgradeStep, ::testing::Values(Attach::Embedded, Attach::Server),
                         [](const auto& info) { return std::string(attach_name(info.param)); });

// The connection is cut while the script runs (the server ends the step's
// attachment while the first error box is open): the step ends with the lost
// connection, not with the earlier statement's error, and the marker stays.
TEST(UpgradeStep, LostConnectionIsTheStepsError) {
    Chain chain;
    chain.db.Isql("create table ef_seri (x integer);");
    bool cut = false;
    chain.at_first_box = [&] {
        chain.db.Isql("delete from mon$attachments where mon$attachment_id <> current_connection "
                      "and mon$system_flag = 0;");
        cut = true;
    };
    chain.press_start();
    ASSERT_TRUE(cut);
    EXPECT_TRUE(chain.package_step_finished());
    ASSERT_TRUE(chain.package_step_ran_before_box.back());
    const std::string error = chain.boxes().back().text;
    EXPECT_EQ(error.find("already exists"), std::string::npos) << error;
    EXPECT_NE(error.find("connection shutdown"), std::string::npos) << error;
    EXPECT_EQ(chain.scalar("select yil from firmabilgi"), 2026);
}

TEST(UpgradeStep, UnreachableServerIsReportedAfterThePackageStep) {
    Chain chain;
    const std::string nothing_listens = "localhost/3059";
    chain.press_start(&nothing_listens);
    ASSERT_EQ(chain.boxes().size(), 1u);
    EXPECT_EQ(chain.boxes()[0].text,
              "Unable to complete network request to host \"localhost\".\rFailed to establish a connection.");
    EXPECT_EQ(chain.boxes()[0].icon, window::BoxIcon::Error);
    EXPECT_TRUE(chain.package_step_ran_before_box[0]);
    EXPECT_TRUE(chain.package_step_finished());
    EXPECT_TRUE(chain.log().empty());
    EXPECT_EQ(chain.scalar("select yil from firmabilgi"), 2026);
}

// The script's final COMMIT fails and ends ibt1: the operator is shown that
// commit's error, not the rollback's complaint about an inactive transaction,
// and the uncommitted marker update is gone.
TEST(UpgradeStep, FailedFinalCommitShowsItsOwnError) {
    Chain chain;
    chain.db.Isql("create exception ex_commit_fail 'commit refused by test trigger';\n"
                  "set term ^ ;\n"
                  "create trigger trg_fail_commit on transaction commit as\n"
                  "begin\n"
                  "  if (exists (select 1 from firmabilgi where yil = 2027)) then exception ex_commit_fail;\n"
                  "end^\n"
                  "set term ; ^");
    chain.press_start();
    ASSERT_EQ(chain.boxes().size(), 1u);
    EXPECT_EQ(chain.boxes()[0].text.rfind("exception 1\rEX_COMMIT_FAIL\rcommit refused by test trigger\r", 0),
              0u)
        << chain.boxes()[0].text;
    EXPECT_TRUE(chain.package_step_ran_before_box[0]);
    EXPECT_TRUE(chain.package_step_finished());
    EXPECT_EQ(chain.log(),
              std::vector<std::string>{"2027 Database güncellemesi tamamlanamadı: 1 nesne eksik."});
    EXPECT_NE(chain.boxes()[0].text.find("Eksik nesneler: row of FATURABILGI with FBID 1 missing"),
              std::string::npos);
    EXPECT_EQ(chain.scalar("select yil from firmabilgi"), 2026);
    EXPECT_EQ(chain.count("faturabilgi"), 0) << "the data statements are undone";
    EXPECT_TRUE(chain.has_relation("EF_SERI")) << "committed definitions stay";
    EXPECT_FALSE(chain.form().ibdb1.Connected());
}

} // namespace kv::test
