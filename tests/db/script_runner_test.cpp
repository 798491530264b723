// The script runner against real Firebird databases made from the site
// fixture: what reaches the server, in which transaction, what is committed
// when, and where the error of a refused statement goes.
#include "db/script.h"
#include "platform/unicode.h"
#include "site_db.h"
#include "workflow/upgrade_script.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kv;
using namespace kv::test;

namespace {

// A site database with a connection, transaction and script set up like the
// updater's ibdb1, ibt1 and ScriptRunner, under a central error handler that
// records what the error box would show.
struct Site {
    explicit Site(Attach how = Attach::Server) : how(how) {
        configure(ibdb1, ibt1, how, db.Path());
        script.SetConnection(&ibdb1);
        script.SetTransaction(&ibt1);
        SetApplicationErrorHandler([this](std::exception_ptr e) {
            boxes.push_back(describe_exception(e).message);
            box_offsets.push_back(script.ErrorOffset());
        });
    }
    ~Site() {
        SetApplicationErrorHandler(nullptr);
        ibdb1.Close();
    }

    Variant scalar(const std::string& sql) { return test::scalar(how, db.Path(), sql); }
    int64_t count(const std::string& from_where) { return row_count(how, db.Path(), from_where); }
    bool has_relation(const std::string& name) { return test::has_relation(how, db.Path(), name); }

    void run(const std::string& text) {
        script.SetSQL(text);
        script.Execute();
    }

    Attach how;
    SiteDb db;
    TDbConnection ibdb1{"ibdb1"};
    TDbTransaction ibt1{"ibt1"};
    TDbScript script{"ScriptRunner"};
    std::vector<std::string> boxes;
    std::vector<int64_t> box_offsets;
};

std::string message_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no error";
}

class UpgradeScriptRun : public ::testing::TestWithParam<Attach> {};

} // namespace

TEST_P(UpgradeScriptRun, UpgradesTheSiteDatabaseAndEndsWithTheTransactionCommitted) {
    Site site(GetParam());
    site.db.Isql("insert into firmabilgi (firmaadi, yil) values ('Ikinci', 2025);");
    site.ibdb1.Open();
    TDbQuery uq1("uq1");
    uq1.SetConnection(&site.ibdb1);
    uq1.SetSQL("Select yil from firmabilgi");
    uq1.Open();

    site.run(upgrade_script());

    EXPECT_TRUE(site.boxes.empty()) << site.boxes.front();
    EXPECT_FALSE(site.ibt1.Active());
    EXPECT_FALSE(uq1.Active()) << "the final COMMIT closes the year query";
    EXPECT_TRUE(site.ibdb1.Connected());
    EXPECT_EQ(site.script.RowsAffected(), 3); // two FIRMABILGI rows and the FATURABILGI row
    EXPECT_EQ(site.count("firmabilgi where yil = 2027"), 2);
    EXPECT_EQ(site.count("firmabilgi"), 2);
    EXPECT_EQ(site.count("faturabilgi where fbid = 1 and faturaaktif = 'H' and fislimit = 12000"), 1);
    EXPECT_EQ(site.count("faturabilgi"), 1);
    for (const char* table : {"EF_SERI", "EF_GIDEN", "EF_GELEN", "FATURABILGI", "KAMPANYA_BILGI"})
        EXPECT_TRUE(site.has_relation(table)) << table;
    EXPECT_EQ(
        site.count("rdb$triggers where rdb$trigger_name in ('UKOD_DUZELT', 'CARI_TEMIZLE', 'SILINEN_EKLE')"),
        3);
    EXPECT_EQ(site.count("rdb$triggers where rdb$trigger_name = 'URUNTR' and rdb$trigger_inactive = 1"), 1);
    EXPECT_EQ(site.count("rdb$procedures where rdb$procedure_name in ('SP_URUN_BILGI_GUNCELLE', 'STOK_SAY')"),
              2);
    EXPECT_EQ(site.count("rdb$generators where rdb$generator_name = 'GEN_KAMPANYA_BILGI_ID'"), 1);
    EXPECT_EQ(site.count("rdb$indices where rdb$index_name in ('IDX_EF_GIDEN1', 'IDX_EF_GELEN1')"), 2);

    // The bodies arrived whole: the procedure runs and the trigger raises.
    site.run("execute procedure stok_say;\r\ninsert into cari (cid, cfirmaadi) values (1, '');\r\ncommit;");
    EXPECT_GT(site.count("stokdrm"), 0);
    ASSERT_EQ(site.boxes.size(), 1u);
    EXPECT_NE(site.boxes[0].find("EX_GENEL_HATA\rFirma adi bos olamaz!"), std::string::npos) << site.boxes[0];
}

INSTANTIATE_TEST_SUITE_P(Attach, UpgradeScriptRun, ::testing::Values(Attach::Embedded, Attach::Server),
                         [](const auto& info) { return std::string(attach_name(info.param)); });

TEST(ScriptRunner, RefusedStatementIsShownAndTheRunGoesOn) {
    Site site;
    site.db.Isql("create table ef_seri (x integer);");
    site.run(upgrade_script());
    ASSERT_EQ(site.boxes.size(), 1u);
    EXPECT_EQ(site.boxes[0],
              "unsuccessful metadata update\rCREATE TABLE EF_SERI failed\rTable EF_SERI already exists");
    // The offset of the statement's leading comment, in characters.
    const std::string& text = upgrade_script();
    EXPECT_EQ(site.box_offsets[0],
              static_cast<int64_t>(utf16_length(text.substr(0, text.find("-- 7. E-Fatura")))));
    EXPECT_EQ(site.count("firmabilgi where yil = 2027"), 1);
    EXPECT_TRUE(site.has_relation("EF_GIDEN"));
    EXPECT_EQ(site.count("faturabilgi"), 1);
    EXPECT_FALSE(site.ibt1.Active());
}

TEST(ScriptRunner, DataStatementsWaitForCommitWhileDefinitionsAreCommittedEach) {
    Site site;
    site.run("update firmabilgi set yil = 1999;\r\ncreate table t_one (a integer);\r\n"
             "insert into t_one (a) values (1);");
    EXPECT_TRUE(site.ibt1.Active());
    EXPECT_TRUE(site.has_relation("T_ONE"));
    EXPECT_EQ(site.count("firmabilgi where yil = 2026"), 1) << "the update is not committed yet";
    site.ibt1.Rollback();
    EXPECT_EQ(site.count("t_one"), 0);

    // With AUTODDL off a definition runs in the script's transaction too.
    site.run("set autoddl off;\r\ncreate table t_two (a integer);\r\nrollback;");
    EXPECT_FALSE(site.has_relation("T_TWO"));
    EXPECT_EQ(site.script.SpecificOptions["InterBase.AutoDDL"], "False");
}

TEST(ScriptRunner, TransactionStatementsRunByTheProcessor) {
    Site site;
    EXPECT_EQ(message_of([&] { site.run("COMMIT;"); }), "no error")
        << "COMMIT while inactive starts and commits";
    EXPECT_FALSE(site.ibt1.Active());
    EXPECT_EQ(message_of([&] { site.run("ROLLBACK;"); }), "no error");

    EXPECT_EQ(message_of([&] { site.run("COMMIT RETAIN;\r\ncreate table t_never (a integer);"); }),
              "Can't perform operation on inactive transaction");
    EXPECT_FALSE(site.has_relation("T_NEVER")) << "the run stops at the failing statement";

    site.run("update firmabilgi set yil = 2001;\r\nsavepoint s1;\r\nupdate firmabilgi set yil = 2002;\r\n"
             "rollback to savepoint s1;\r\ncommit retain;");
    EXPECT_TRUE(site.ibt1.Active());
    EXPECT_EQ(site.scalar("select yil from firmabilgi"), 2001);
    site.run("update firmabilgi set yil = 2003;\r\nrollback retain;\r\ncommit;");
    EXPECT_EQ(site.scalar("select yil from firmabilgi"), 2001);

    EXPECT_EQ(message_of([&] { site.run("set transaction;\r\nset transaction read committed;"); }),
              "Can't perform operation on active transaction");
    site.ibt1.Rollback();
    EXPECT_EQ(message_of([&] { site.run("savepoint 'x';"); }),
              "Invalid lexem \"'x'\" at position 11 in statement:\r\nsavepoint 'x'");
    EXPECT_EQ(message_of([&] { site.run("create database 'elsewhere.fdb';"); }),
              "CREATE DATABASE is not supported by the script runner");
    EXPECT_TRUE(site.boxes.empty());
}

TEST(ScriptRunner, SetTermBodiesAndEventsAroundEachStatement) {
    Site site;
    std::vector<std::string> before, after;
    int executed = 0;
    site.script.BeforeExecute = [&](TDbScript&, std::string& sql, bool& omit) {
        before.push_back(sql);
        if (sql == "select 'skip me' from rdb$database") omit = true;
    };
    site.script.OnExecute = [&](TDbScript&) { ++executed; };
    site.script.AfterExecute = [&](TDbScript&, const std::string& sql) { after.push_back(sql); };
    site.run(
        "set term ^ ;\r\ncreate procedure p_two returns (r integer) as\r\ndeclare variable x integer;\r\n"
        "begin x = 1; r = case when x = 1 then 2 else 3 end; suspend; end^\r\nset term ; ^\r\n"
        "select 'skip me' from rdb$database;\r\ncreate table t_p (a integer);\r\n"
        "insert into t_p select r from p_two;\r\ninsert into t_p values (7);\r\ndelete from t_p where a = "
        "7;\r\n"
        "commit;");
    EXPECT_TRUE(site.boxes.empty());
    EXPECT_EQ(site.count("t_p where a = 2"), 1);
    ASSERT_EQ(before.size(), 9u);
    EXPECT_EQ(before[0], "set term ^ ");
    EXPECT_EQ(executed, 5);
    EXPECT_EQ(after.size(), 5u);
    // Rows written, not rows read: two inserted, one deleted.
    EXPECT_EQ(site.script.RowsAffected(), 3);
}

TEST(ScriptRunner, ErrorActions) {
    const std::string script =
        "create table t_a (a integer);\r\n-- again\r\ncreate table t_a (a integer);\r\n"
        "create table t_b (a integer);";
    struct Case {
        TErrorAction action;
        std::string leaves; // "no error" when Execute returns
        bool runs_on;
    };
    for (const Case& c :
         {Case{TErrorAction::eaFail,
               "unsuccessful metadata update\rCREATE TABLE T_A failed\rTable T_A "
               "already exists",
               false},
          Case{TErrorAction::eaAbort, "no error", false}, Case{TErrorAction::eaContinue, "no error", true},
          Case{TErrorAction::eaException, "no error", true}}) {
        SCOPED_TRACE(static_cast<int>(c.action));
        Site site;
        std::vector<std::string> seen;
        int64_t offset_in_handler = -1, offset_next = -1;
        site.script.OnError = [&](TDbScript& s, const Exception&, const std::string& sql,
                                  TErrorAction& action) {
            EXPECT_EQ(action, TErrorAction::eaException);
            seen.push_back(sql);
            offset_in_handler = s.ErrorOffset();
            action = c.action;
        };
        site.script.BeforeExecute = [&](TDbScript& s, std::string&, bool&) {
            if (offset_in_handler >= 0 && offset_next < 0) offset_next = s.ErrorOffset();
        };
        EXPECT_EQ(message_of([&] { site.run(script); }), c.leaves);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0], "-- again\r\ncreate table t_a (a integer)");
        EXPECT_EQ(offset_in_handler, 31);
        EXPECT_EQ(site.has_relation("T_B"), c.runs_on);
        if (c.runs_on) {
            EXPECT_EQ(offset_next, 0);
        }
        EXPECT_EQ(site.boxes.size(), c.action == TErrorAction::eaException ? 1u : 0u);
        EXPECT_TRUE(site.has_relation("T_A"));
    }
}

TEST(ScriptRunner, WithoutCentralHandlerTheFirstRefusalLeaves) {
    Site site;
    SetApplicationErrorHandler(nullptr);
    EXPECT_EQ(message_of([&] { site.run("select * from no_such_table;\r\ncreate table t_c (a integer);"); }),
              "Dynamic SQL Error\rSQL error code = -204\rTable unknown\rNO_SUCH_TABLE\rAt line 1, column 15");
    EXPECT_FALSE(site.has_relation("T_C"));
}

TEST(ScriptRunner, ConnectionStatements) {
    Site site;
    TDbScript bare;
    EXPECT_EQ(message_of([&] {
                  bare.SetSQL("select 1 from rdb$database;");
                  bare.Execute();
              }),
              "Connection is not defined");

    site.run("reconnect;\r\nset sql dialect 1;\r\nset names win1254;");
    EXPECT_TRUE(site.ibdb1.Connected());
    EXPECT_EQ(site.ibdb1.Options().sql_dialect, 1);
    EXPECT_EQ(site.ibdb1.Options().charset, "win1254");

    // CONNECT names the server in its database string; with NoPreconnect the
    // connection is not opened before it with the old settings.
    site.ibdb1.SetServer("nosuchhost.invalid");
    site.script.NoPreconnect = true;
    site.run("connect 'localhost:" + site.db.Path() +
             "' user 'SYSDBA' password 'masterkey';\r\n"
             "create table t_d (a integer);");
    EXPECT_EQ(site.ibdb1.Server(), "");
    EXPECT_EQ(site.ibdb1.Database(), "localhost:" + site.db.Path());
    EXPECT_TRUE(site.has_relation("T_D"));
}

TEST(ScriptRunner, BreakExecStopsBeforeTheNextStatement) {
    Site site;
    site.script.AfterExecute = [](TDbScript& s, const std::string&) { s.BreakExec(); };
    site.run("create table t_e (a integer);\r\ncreate table t_f (a integer);");
    EXPECT_TRUE(site.has_relation("T_E"));
    EXPECT_FALSE(site.has_relation("T_F"));
    EXPECT_FALSE(site.script.ExecuteNext());
}
