// The connection and transaction components against real Firebird: the
// errors the operator would see for each way an attach fails, Open and Close
// repeated, the client library choice and the transaction rules.
#include "db/db_connection.h"
#include "db/db_query.h"
#include "site_db.h"

#include <clocale>
#include <functional>
#include <gtest/gtest.h>
#include <string>

using namespace kv;
using namespace kv::test;

namespace {

using DbConnection = ServerTest;

// The marker value as the committed state sees it, read by isql.
std::string committed_year(const SiteDb& db) {
    return db.Isql("set list on; select yil from firmabilgi;");
}

} // namespace

TEST_F(DbConnection, AttachFailuresCarryTheClientLinesJoinedByCarriageReturns) {
    SiteDb db;
    struct Case {
        const char* what;
        std::string server, database, password;
        std::string message;
        int64_t number;
    } cases[] = {
        {"nothing listening", "localhost/3051", db.Path(), kSiteDatabasePassword,
         "Unable to complete network request to host \"localhost\".\rFailed to establish a connection.",
         335544721},
        {"unknown host", "nosuchhost.invalid", db.Path(), kSiteDatabasePassword,
         "Unable to complete network request to host \"nosuchhost.invalid\".\rFailed to locate host "
         "machine.\r"
         "The specified name was not found in the hosts file or Domain Name Services.",
         335544721},
        {"wrong password", "localhost", db.Path(), "wrong",
         "Your user name and password are not defined. Ask your database administrator to set up a Firebird "
         "login.",
         335544472},
        {"missing file", "localhost", db.Folder() + "/nope.fdb", kSiteDatabasePassword,
         "I/O error during \"open\" operation for file \"" + db.Folder() +
             "/nope.fdb\"\rError while trying to open file\rNo such file or directory",
         335544344},
    };
    for (const auto& c : cases) {
        TDbConnection ibdb1("ibdb1");
        TDbTransaction ibt1("ibt1");
        configure(ibdb1, ibt1, Attach::Server, c.database);
        ibdb1.SetServer(c.server);
        ibdb1.SetPassword(c.password);
        try {
            ibdb1.Open();
            ADD_FAILURE() << c.what << ": no error";
        } catch (const EDbError& e) {
            EXPECT_EQ(e.Message(), c.message) << c.what;
            EXPECT_EQ(e.ErrorCode, -902) << c.what;
            try {
                std::rethrow_exception(e.InnerError);
            } catch (const EFbError& inner) {
                EXPECT_EQ(inner.ErrorNumber, c.number) << c.what;
            }
        }
        EXPECT_FALSE(ibdb1.Connected()) << c.what;
        EXPECT_FALSE(client_library_loaded()) << c.what << ": a failed attach keeps no client";
    }
}

TEST_F(DbConnection, OpenAndCloseTwiceEmbeddedAndThroughTheServer) {
    SiteDb db;
    for (Attach how : {Attach::Embedded, Attach::Server}) {
        TDbConnection ibdb1("ibdb1");
        TDbTransaction ibt1("ibt1");
        configure(ibdb1, ibt1, how, db.Path());
        ibdb1.Open();
        ibdb1.Open();
        EXPECT_TRUE(ibdb1.Connected()) << attach_name(how);
        EXPECT_EQ(ibdb1.Provider().SQLDialect(), 3);
        EXPECT_TRUE(ibdb1.Provider().IsFBServer());
        EXPECT_EQ(ibdb1.Provider().GetMajorServerVersion(), 3);
        ibdb1.Close();
        ibdb1.Close();
        EXPECT_FALSE(ibdb1.Connected()) << attach_name(how);
        ibdb1.Open(); // and again after a close
        EXPECT_TRUE(ibdb1.Connected());
    }
}

// A program in a Turkish locale (the Qt window takes the system's) must still
// reach its database: the client library reads its configuration with the C
// library's character functions, which under that locale fold "i" to the
// dotted capital, and then refuses its own configuration files.
TEST_F(DbConnection, OpensUnderATurkishLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "tr_TR.UTF-8")) GTEST_SKIP() << "no tr_TR.UTF-8 locale here";
    SiteDb db;
    for (Attach how : {Attach::Embedded, Attach::Server}) {
        TDbConnection ibdb1("ibdb1");
        TDbTransaction ibt1("ibt1");
        configure(ibdb1, ibt1, how, db.Path());
        EXPECT_NO_THROW(ibdb1.Open()) << attach_name(how);
        EXPECT_TRUE(ibdb1.Connected()) << attach_name(how);
        ibdb1.Close();
    }
    std::setlocale(LC_ALL, before.c_str());
}

// The client library's files are replaced after the database step, so the
// library must be gone from the process once its last connection closes, and
// come back for the next open. The embedded engine is the hard case: it keeps
// the library mapped unless the client is shut down first.
TEST_F(DbConnection, ClientLibraryIsUnloadedWithItsLastConnection) {
    SiteDb db;
    for (Attach how : {Attach::Embedded, Attach::Server}) {
        SCOPED_TRACE(attach_name(how));
        TDbConnection first("first"), second("second");
        TDbTransaction first_t("first_t"), second_t("second_t");
        configure(first, first_t, how, db.Path());
        configure(second, second_t, how, db.Path());
        ASSERT_FALSE(client_library_loaded());
        first.Open();
        second.Open();
        first.Close();
        EXPECT_TRUE(client_library_loaded()) << "still used by the second connection";
        second.Close();
        EXPECT_FALSE(client_library_loaded());

        TDbQuery q;
        q.SetConnection(&first);
        q.SetSQL("select yil from firmabilgi");
        q.Open();
        EXPECT_TRUE(client_library_loaded());
        EXPECT_EQ(q.Fields(0).AsVariant().AsInt64(), 2026);
        first.Close();
        EXPECT_FALSE(client_library_loaded());
    }
}

TEST_F(DbConnection, ClientLibraryByNameAndByFallback) {
    // A path that is not .fdb prefers the InterBase-compatible file, which this
    // system lacks: the Firebird client is loaded as the fallback.
    SiteDb db("site.gdb");
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    ibdb1.Open();
    EXPECT_TRUE(ibdb1.Provider().Client().IsFirebird());
    EXPECT_EQ(ibdb1.Provider().Client().Version(), 30000);
    ibdb1.Close();

    FbConnectionOptions o;
    o.client_library = " libkv-no-such-client.so ";
    ibdb1.SetOptions(o);
    std::string cls;
    EXPECT_EQ(error_of([&] { ibdb1.Open(); }, &cls), "Cannot load client library: libkv-no-such-client.so");
    EXPECT_EQ(cls, "Exception");
    EXPECT_FALSE(ibdb1.Connected());
}

TEST_F(DbConnection, ProviderNameCannotChangeWhileConnected) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    ibdb1.Open();
    std::string cls;
    EXPECT_EQ(error_of([&] { ibdb1.SetProviderName("Other"); }, &cls),
              "This operation is not allowed on active connection");
    EXPECT_EQ(cls, "EDatabaseError");
    ibdb1.SetServer("localhost"); // the same value: stays connected
    EXPECT_TRUE(ibdb1.Connected());
    ibdb1.SetServer(""); // a different one detaches first
    EXPECT_FALSE(ibdb1.Connected());
}

TEST_F(DbConnection, TransactionMisuseMessages) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    EXPECT_EQ(error_of([&] { ibdb1.StartTransaction(); }),
              "One of the connections in the transaction is not active");
    ibdb1.Open();
    EXPECT_EQ(error_of([&] { ibdb1.Rollback(); }), "Can't perform operation on inactive transaction");
    EXPECT_EQ(error_of([&] { ibdb1.Commit(); }), "Can't perform operation on inactive transaction");
    EXPECT_EQ(error_of([&] { ibdb1.CommitRetaining(); }), "Can't perform operation on inactive transaction");
    ibdb1.StartTransaction();
    EXPECT_EQ(error_of([&] { ibdb1.StartTransaction(); }), "Can't perform operation on active transaction");
    EXPECT_TRUE(ibt1.Active());
    EXPECT_TRUE(ibt1.ExplicitlyStarted());
    EXPECT_EQ(ibt1.StartCount(), 1);
    TDbTransaction loose;
    EXPECT_EQ(error_of([&] { loose.StartTransaction(); }), "There are no connections in the transaction");
}

TEST_F(DbConnection, ImplicitStartAutoCommitAndCommitEndingTheQuery) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    TDbQuery uq1("uq1");
    uq1.SetConnection(&ibdb1);
    uq1.SetSQL("Select yil from firmabilgi");
    uq1.Open(); // opens the connection and starts ibt1 implicitly
    EXPECT_TRUE(ibdb1.Connected());
    EXPECT_TRUE(ibt1.Active());
    EXPECT_FALSE(ibt1.ExplicitlyStarted());
    EXPECT_EQ(ibt1.StartCount(), 1);

    TDbSQL cmd;
    cmd.SetConnection(&ibdb1);
    cmd.AutoCommit = false;
    cmd.SetSQL("update firmabilgi set yil = 2027");
    cmd.Execute();
    EXPECT_EQ(cmd.RowsAffected(), 1);
    EXPECT_EQ(ibt1.StartCount(), 1);
    EXPECT_EQ(ibt1.UncommittedCount(), 1);
    EXPECT_NE(committed_year(db).find("2026"), std::string::npos) << "not committed yet";

    ibdb1.CommitRetaining(); // keeps the handle and the open query
    EXPECT_TRUE(ibt1.Active());
    EXPECT_TRUE(uq1.Active());
    EXPECT_EQ(ibt1.UncommittedCount(), 0);
    EXPECT_NE(committed_year(db).find("2027"), std::string::npos);

    cmd.SetSQL("update firmabilgi set yil = 2028");
    cmd.Execute();
    ibdb1.Commit(); // closes the open query
    EXPECT_FALSE(uq1.Active());
    EXPECT_FALSE(ibt1.Active());
    EXPECT_EQ(ibt1.StartCount(), 0);
    EXPECT_NE(committed_year(db).find("2028"), std::string::npos);

    // With the automatic flag on, a statement on an inactive transaction commits and ends it.
    cmd.AutoCommit = true;
    cmd.SetSQL("update firmabilgi set yil = 2029");
    cmd.Execute();
    EXPECT_FALSE(ibt1.Active());
    EXPECT_NE(committed_year(db).find("2029"), std::string::npos);
}

TEST_F(DbConnection, ClosingTheConnectionRollsBack) {
    SiteDb db;
    for (Attach how : {Attach::Embedded, Attach::Server}) {
        TDbConnection ibdb1("ibdb1");
        TDbTransaction ibt1("ibt1");
        configure(ibdb1, ibt1, how, db.Path());
        TDbQuery uq1("uq1");
        uq1.SetConnection(&ibdb1);
        uq1.SetSQL("Select yil from firmabilgi");
        uq1.Open();
        TDbSQL cmd;
        cmd.SetConnection(&ibdb1);
        cmd.AutoCommit = false;
        cmd.SetSQL("update firmabilgi set yil = 1999");
        cmd.Execute();
        ibdb1.Close();
        EXPECT_FALSE(uq1.Active()) << attach_name(how);
        EXPECT_FALSE(ibt1.Active()) << attach_name(how);
        EXPECT_NE(committed_year(db).find("2026"), std::string::npos) << attach_name(how);
    }
}

TEST_F(DbConnection, FailedCommitEndsTheTransactionAndTheLaterRollbackIsRefused) {
    SiteDb db;
    db.Isql("create exception ex_commit_fail 'commit refused by test trigger';\n"
            "set term ^;\n"
            "create trigger trg_fail_commit on transaction commit as begin\n"
            "  if (rdb$get_context('USER_TRANSACTION', 'FAIL_COMMIT') = '1') then exception ex_commit_fail;\n"
            "end^\n"
            "set term ;^");
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    ibdb1.Open();
    ibdb1.StartTransaction();
    TDbSQL cmd;
    cmd.SetConnection(&ibdb1);
    cmd.AutoCommit = false;
    cmd.SetSQL("update firmabilgi set yil = 2027");
    cmd.Execute();
    TDbQuery arm("arm");
    arm.SetConnection(&ibdb1);
    arm.SetSQL("select rdb$set_context('USER_TRANSACTION', 'FAIL_COMMIT', '1') from rdb$database");
    arm.Open();
    EXPECT_EQ(error_of([&] { ibdb1.Commit(); }).substr(0, 61),
              "exception 1\rEX_COMMIT_FAIL\rcommit refused by test trigger\rAt ");
    EXPECT_FALSE(ibt1.Active()) << "a failed commit rolls back";
    EXPECT_EQ(error_of([&] { ibdb1.Rollback(); }), "Can't perform operation on inactive transaction");
    EXPECT_NE(committed_year(db).find("2026"), std::string::npos);
}

TEST_F(DbConnection, ProviderErrorsReachTheErrorHook) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    std::string seen;
    ibdb1.OnError = [&](const EDbError& e, bool& fail) {
        seen = e.Message();
        fail = seen.find("Table unknown") == std::string::npos; // silence only this one
    };
    TDbQuery q("q");
    q.SetConnection(&ibdb1);
    q.SetSQL("select * from nosuch");
    EXPECT_THROW(q.Open(), EAbort);
    EXPECT_NE(seen.find("Table unknown"), std::string::npos);
    EXPECT_FALSE(q.Active());
    EXPECT_TRUE(ibt1.Active()) << "the transaction started for a failed open stays active";
}

TEST_F(DbConnection, ALostConnectionIsClosedAndItsQueryWithIt) {
    SiteDb db;
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    TDbQuery uq1("uq1");
    uq1.SetConnection(&ibdb1);
    uq1.SetSQL("select current_connection from rdb$database");
    uq1.Open();
    const int64_t id = uq1.Fields(0).AsVariant().AsInt64();
    ibdb1.Commit();

    TDbConnection killer("killer");
    TDbTransaction kt;
    configure(killer, kt, Attach::Server, db.Path());
    TDbSQL kill;
    kill.SetConnection(&killer);
    kill.SetSQL("delete from mon$attachments where mon$attachment_id = " + std::to_string(id));
    kill.Execute();

    // The next statement meets the lost connection while it is being prepared.
    uq1.SetSQL("Select yil from firmabilgi");
    std::string cls;
    EXPECT_EQ(error_of([&] { uq1.Open(); }, &cls), "connection shutdown");
    EXPECT_EQ(cls, "EDbError");
    EXPECT_FALSE(ibdb1.Connected());
    EXPECT_FALSE(uq1.Active());
    EXPECT_FALSE(ibt1.Active());
    ibdb1.Open(); // a new attach works
    uq1.Open();
    EXPECT_EQ(uq1.FieldByName("yil").AsVariant().AsInt64(), 2026);
}
