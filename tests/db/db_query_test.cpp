// The query and command components against real Firebird: the updater's year
// query over the values the marker can hold, embedded and through the
// server; field lookup; fetching in blocks; parameter recognition; and the
// statement information the script runner reads.
#include "db/db_connection.h"
#include "db/db_query.h"
#include "site_db.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

using namespace kv;
using namespace kv::test;

namespace {

using DbQuery = ServerTest;

// Runs statements through a TDbSQL on its own committed transaction.
void exec(TDbConnection& c, const std::string& sql) {
    TDbTransaction t;
    t.SetDefaultConnection(&c);
    TDbSQL cmd;
    cmd.SetConnection(&c);
    cmd.SetTransaction(&t);
    cmd.SetSQL(sql);
    cmd.Execute(); // automatic commit
}

} // namespace

TEST_F(DbQuery, YearMarkerValues) {
    SiteDb db;
    struct Case {
        const char* what;
        const char* setup;
        Variant::Type type;
        int64_t value;
        bool is_2027;
    } cases[] = {
        {"empty table", "delete from firmabilgi", Variant::Type::Null, 0, false},
        {"null", "insert into firmabilgi (yil) values (null)", Variant::Type::Null, 0, false},
        {"2026", "update firmabilgi set yil = 2026", Variant::Type::Integer, 2026, false},
        {"2027 INTEGER", "update firmabilgi set yil = 2027", Variant::Type::Integer, 2027, true},
        {"2027 SMALLINT", "recreate table firmabilgi (yil smallint)", Variant::Type::SmallInt, 2027, true},
        {"several rows: the first decides", "insert into firmabilgi values (2026)", Variant::Type::SmallInt,
         2027, true},
    };
    for (Attach how : {Attach::Embedded, Attach::Server}) {
        db.Isql("recreate table firmabilgi (firmaadi varchar(100), yil integer);"
                "insert into firmabilgi values ('Deneme Market', 2026);");
        for (const auto& c : cases) {
            {
                TDbConnection setup("setup");
                TDbTransaction t;
                configure(setup, t, how, db.Path());
                exec(setup, c.setup);
                if (std::string(c.what) == "2027 SMALLINT")
                    exec(setup, "insert into firmabilgi values (2027)");
            }
            TDbConnection ibdb1("ibdb1");
            TDbTransaction ibt1("ibt1");
            configure(ibdb1, ibt1, how, db.Path());
            TDbQuery uq1("uq1");
            uq1.SetConnection(&ibdb1);
            ibdb1.Open();
            uq1.SetSQL("Select yil from firmabilgi");
            uq1.Open();
            Variant v = uq1.FieldByName("yil").AsVariant();
            EXPECT_EQ(v.type(), c.type) << attach_name(how) << ": " << c.what;
            EXPECT_EQ(v.AsInt64(), c.value) << attach_name(how) << ": " << c.what;
            EXPECT_EQ(v == 2027, c.is_2027) << attach_name(how) << ": " << c.what;
            EXPECT_EQ(&uq1.FieldByName("YIL"), &uq1.FieldByName("yil"));
        }
    }
}

TEST_F(DbQuery, MissingFieldAndMissingTable) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    TDbQuery uq1("uq1");
    uq1.SetConnection(&ibdb1);
    uq1.SetSQL("Select yil from firmabilgi");
    uq1.Open();
    std::string cls;
    EXPECT_EQ(error_of([&] { uq1.FieldByName("yilx"); }, &cls), "uq1: Field 'yilx' not found");
    EXPECT_EQ(cls, "EDatabaseError");

    uq1.SetSQL("select yil from nosuch");
    EXPECT_FALSE(uq1.Active()) << "a new text closes the query";
    EXPECT_EQ(error_of([&] { uq1.Open(); }, &cls),
              "Dynamic SQL Error\rSQL error code = -204\rTable unknown\rNOSUCH\rAt line 1, column 17");
    EXPECT_EQ(cls, "EDbError");
    EXPECT_FALSE(uq1.Active());

    TDbQuery loose("loose");
    loose.SetSQL("select 1 from rdb$database");
    EXPECT_EQ(error_of([&] { loose.Open(); }, &cls), "Connection is not defined");
    EXPECT_EQ(cls, "EDatabaseError");
    uq1.SetSQL("  \r\n ");
    EXPECT_EQ(error_of([&] { uq1.Open(); }, &cls), "SQL statement cannot be empty");
    EXPECT_EQ(cls, "EDbError");
}

TEST_F(DbQuery, RowsAreFetchedInBlocks) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    ibdb1.Open();
    exec(ibdb1, "create table t30 (n integer, s varchar(10), d numeric(9,2))");
    exec(ibdb1, "execute block as declare i integer = 1; begin while (i <= 30) do begin "
                "insert into t30 values (:i, 'r' || :i, :i * 0.25); i = i + 1; end end");
    for (bool uni : {false, true}) {
        TDbQuery q("q");
        q.SetConnection(&ibdb1);
        q.UniDirectional = uni;
        q.SetSQL("select n, s, d from t30 order by n");
        q.Open();
        EXPECT_EQ(q.FetchedRows(), 25);
        EXPECT_FALSE(q.AllFetched());
        int seen = 0;
        for (; !q.Eof(); q.Next()) {
            ++seen;
            EXPECT_EQ(q.Fields(0).AsVariant().AsInt64(), seen);
            EXPECT_EQ(q.FieldByName("S").AsVariant().AsString(), "r" + std::to_string(seen));
            EXPECT_DOUBLE_EQ(q.Fields(2).AsVariant().AsDouble(), seen / 4.0);
            if (seen == 25) {
                EXPECT_EQ(q.FetchedRows(), 25) << "the 26th row is not fetched before it is reached";
            }
        }
        EXPECT_EQ(seen, 30);
        EXPECT_EQ(q.FetchedRows(), 30);
        EXPECT_TRUE(q.AllFetched());
        EXPECT_TRUE(q.Fields(0).AsVariant().IsNull()) << "past the end there is no current row";
    }
}

TEST_F(DbQuery, ParametersAreRecognisedOutsideLiteralsAndBeforeDefinitions) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    ibdb1.Open();
    exec(ibdb1, "create table p (id integer, s varchar(20))");
    exec(ibdb1, "insert into p values (1, 'a:b')");

    TDbSQL upd;
    upd.SetConnection(&ibdb1);
    upd.SetSQL("update p set id = :x where s = 'a:b'");
    ASSERT_EQ(upd.Params().Count(), 1u);
    EXPECT_EQ(upd.Params().Name(0), "x");
    EXPECT_TRUE(upd.Params().SetValue("X", Variant::Integer(7)));
    upd.Execute();
    EXPECT_EQ(upd.RowsAffected(), 1);

    // A colon after CREATE is PSQL, not a marker: the text goes to the server unchanged.
    TDbSQL proc;
    proc.SetConnection(&ibdb1);
    proc.AutoCommit = false;
    const std::string body =
        "CREATE PROCEDURE SET_S (P_UID INTEGER) AS BEGIN UPDATE p SET s = 'set' WHERE id = "
        ":P_UID; END";
    proc.SetSQL(body);
    EXPECT_EQ(proc.Params().Count(), 0u);
    EXPECT_EQ(proc.NativeText(), body);
    proc.Execute();
    EXPECT_TRUE(proc.IsDDL());
    ibdb1.Commit();

    TDbSQL call;
    call.SetConnection(&ibdb1);
    call.SetSQL("execute procedure set_s :id");
    call.Params().SetValue("id", Variant::Int64(7));
    call.Execute();
    EXPECT_EQ(call.StatementType(), fb::stExecProcedure);

    TDbQuery q("q");
    q.SetConnection(&ibdb1);
    q.SetSQL("select s from p where id = :id and s <> :other");
    q.Params().SetValue("id", Variant::Integer(7));
    q.Params().SetValue("other", Variant::String("x:y"));
    q.Open();
    EXPECT_EQ(q.FieldByName("s").AsVariant().AsString(), "set");
}

TEST_F(DbQuery, CommandReportsStatementTypesAndRefusesUnsupportedOnes) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    TDbSQL cmd;
    cmd.SetConnection(&ibdb1);
    cmd.AutoCommit = false;
    struct Case {
        const char* sql;
        int type;
        int64_t rows; // written rows: inserted, updated, deleted
    } cases[] = {
        {"/* leading comment */ create table k (a integer)", fb::stDDL, 0},
        {"-- line comment\ninsert into firmabilgi (yil) values (1)", fb::stInsert, 1},
        {"update firmabilgi set yil = yil + 1", fb::stUpdate, 2},
        {"delete from firmabilgi where yil = 2", fb::stDelete, 1},
        {"select 1 from rdb$database", fb::stSelect, 0},
    };
    for (const auto& c : cases) {
        cmd.SetSQL(c.sql);
        cmd.Execute();
        EXPECT_EQ(cmd.StatementType(), c.type) << c.sql;
        EXPECT_EQ(cmd.IsDDL(), c.type == fb::stDDL) << c.sql;
        EXPECT_EQ(cmd.RowsAffected(), c.rows) << c.sql;
    }
    cmd.SetSQL("set transaction");
    std::string cls;
    EXPECT_EQ(error_of([&] { cmd.Execute(); }, &cls), "Unsupported SQL type");
    EXPECT_EQ(cls, "EDbError");
    cmd.SetSQL("create table k (a integer)");
    EXPECT_EQ(error_of([&] { cmd.Execute(); }),
              "unsuccessful metadata update\rCREATE TABLE K failed\rTable K already exists");
}
