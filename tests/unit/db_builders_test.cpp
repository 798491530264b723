// The pure parts of the database layer, as tables: the attach string, the
// database and transaction parameter buffers, the client library choice and
// version, the statement text processing (comments, parameter markers) and
// the variant comparison the year check relies on.
#include "db/db_errors.h"
#include "db/fb_client.h"
#include "db/fb_command.h"
#include "db/fb_connection.h"
#include "db/fb_transaction.h"
#include "rtl/variant.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kv;

namespace {

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b)
        s += static_cast<char>(c);
    return s;
}

std::string error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "no error";
}

} // namespace

TEST(AttachString, FollowsTheRulesInOrder) {
    struct Case {
        std::string server, port, protocol, ip, database;
        bool fb3;
        std::string expected;
    } cases[] = {
        {"localhost", "0", "_TCP", "ivIPBoth", "/d/site.fdb", true, "localhost:/d/site.fdb"},
        {"", "0", "_TCP", "ivIPBoth", "/d/site.fdb", true, "/d/site.fdb"},
        {"10.0.0.5/3051", "0", "_TCP", "ivIPBoth", "C:\\d\\x.fdb", true, "10.0.0.5/3051:C:\\d\\x.fdb"},
        {"dbhost", "3051", "_TCP", "ivIPBoth", "/d/x.fdb", true, "dbhost/3051:/d/x.fdb"},
        {"dbhost/", "3051", "_TCP", "ivIPBoth", "/d/x.fdb", true, "dbhost/3051:/d/x.fdb"},
        {"dbhost", "3050", "_TCP", "ivIPBoth", "/d/x.fdb", true, "dbhost:/d/x.fdb"},
        {"dbhost", "GDS_DB", "_TCP", "ivIPBoth", "/d/x.fdb", true, "dbhost:/d/x.fdb"},
        {"dbhost", "", "_TCP", "ivIPBoth", "/d/x.fdb", true, "dbhost:/d/x.fdb"},
        {"dbhost", "0", "_TCP", "ivIPBoth", "inet://h/x.fdb", true, "inet://h/x.fdb"},
        {"dbhost", "0", "_Local", "ivIPBoth", "x.fdb", true, "xnet://x.fdb"},
        {"dbhost", "0", "_Local", "ivIPBoth", "x.fdb", false, "x.fdb"},
        {"dbhost", "3051", "_TCP", "ivIPv4", "x.fdb", true, "inet4://dbhost:3051/x.fdb"},
        {"dbhost/3052", "3051", "_TCP", "ivIPv6", "x.fdb", true, "inet6://dbhost:3052/x.fdb"},
        {"", "", "_TCP", "ivIPv4", "x.fdb", true, "inet4://x.fdb"},
        {"srv", "0", "_NetBEUI", "ivIPBoth", "x.fdb", true, "\\\\srv\\x.fdb"},
        {"srv", "3051", "_NetBEUI", "ivIPBoth", "x.fdb", true, "\\\\srv@3051\\x.fdb"},
        {"srv", "0", "_SPX", "ivIPBoth", "x.fdb", true, "srv@x.fdb"},
    };
    for (const auto& c : cases) {
        AttachStringParams p;
        p.server = c.server;
        p.port = c.port;
        p.protocol = c.protocol;
        p.ip_version = c.ip;
        p.database = c.database;
        p.fb3_client = c.fb3;
        EXPECT_EQ(fb_attach_string(p), c.expected) << c.server << " " << c.port << " " << c.protocol;
    }
}

TEST(DatabaseParameterBuffer, Bytes) {
    auto program = [] {
        DpbParams p;
        p.user_name = "sysdba";
        p.password = "masterkey";
        p.params = {"utf8_filename"};
        return p;
    };
    const std::string head = bytes({1, 28, 6}) + "sysdba" + bytes({29, 9}) + "masterkey";
    struct Case {
        const char* what;
        std::function<void(DpbParams&)> change;
        std::string expected;
    } cases[] = {
        {"the program's settings", [](DpbParams&) {}, head + bytes({63, 1, 3, 77, 0})},
        {"UseUnicode without a charset", [](DpbParams& p) { p.use_unicode = true; },
         head + bytes({48, 11}) + "UNICODE_FSS" + bytes({63, 1, 3, 77, 0})},
        {"UseUnicode with UTF8", [](DpbParams& p) { p.use_unicode = true, p.charset = "utf8"; },
         head + bytes({48, 4}) + "utf8" + bytes({63, 1, 3, 77, 0})},
        {"role, trusted auth, no triggers",
         [](DpbParams& p) {
             p.role = "ADMIN";
             p.trusted_auth = true;
             p.no_db_triggers = true;
         },
         head + bytes({60, 5}) + "ADMIN" + bytes({73, 1, 0, 72, 1, 1, 63, 1, 3, 77, 0})},
        {"config overrides and compression",
         [](DpbParams& p) { p.config_overrides = "Providers=Engine12|A=1", p.wire_compression = true; },
         head + bytes({87, 45}) + "Providers=Engine12\r\nA=1\r\nWireCompression=true" +
             bytes({63, 1, 3, 77, 0})},
        {"compression alone", [](DpbParams& p) { p.wire_compression = true; },
         head + bytes({87, 20}) + "WireCompression=True" + bytes({63, 1, 3, 77, 0})},
        {"no config item before Firebird 3",
         [](DpbParams& p) { p.wire_compression = true, p.client_version = 25000; },
         head + bytes({63, 1, 3, 77, 0})},
        {"Params cannot override written items, utf8_filename once",
         [](DpbParams& p) {
             p.params = {"USER_NAME=x", " sql_dialect = 1", "utf8_filename", "utf8_filename", "no equals"};
         },
         head + bytes({63, 1, 3, 77, 0})},
        {"integer Params: sizes and the default 10",
         [](DpbParams& p) {
             p.params = {"num_buffers=300", "connect_timeout=abc", "page_size=70000", "journal=1"};
         },
         head + bytes({63, 1, 3, 5, 2, 0x2C, 0x01, 57, 1, 10, 4, 4, 0x70, 0x11, 0x01, 0x00})},
    };
    for (const auto& c : cases) {
        DpbParams p = program();
        c.change(p);
        EXPECT_EQ(fb_build_dpb(p), c.expected) << c.what;
    }
    DpbParams bad = program();
    bad.params = {"bogus=1"};
    EXPECT_EQ(error_of([&] { fb_build_dpb(bad); }), "Unknown DPB constant (bogus)");
}

TEST(TransactionParameterBuffer, Bytes) {
    struct Case {
        const char* what;
        std::function<void(TpbParams&)> change;
        std::string expected;
    } cases[] = {
        {"defaults on Firebird 3", [](TpbParams&) {}, bytes({3, 15, 17, 7, 9})},
        {"defaults on Firebird 4", [](TpbParams& p) { p.server_major = 4; }, bytes({3, 15, 22, 7, 9})},
        {"Firebird 4 without read consistency",
         [](TpbParams& p) { p.server_major = 4, p.use_read_consistency = false; }, bytes({3, 15, 17, 7, 9})},
        {"snapshot, read-only, wait",
         [](TpbParams& p) {
             p.isolation = TDbIsolationLevel::ilSnapshot, p.read_only = true, p.wait_mode = true;
         },
         bytes({3, 2, 6, 8})},
        {"isolated", [](TpbParams& p) { p.isolation = TDbIsolationLevel::ilIsolated; }, bytes({3, 1, 7, 9})},
        {"lock timeout with wait", [](TpbParams& p) { p.wait_mode = true, p.lock_timeout = 5; },
         bytes({3, 15, 17, 6, 9, 21, 1, 5})},
        {"lock timeout without wait is not sent", [](TpbParams& p) { p.lock_timeout = 5; },
         bytes({3, 15, 17, 7, 9})},
        {"custom from Params, repeats skipped",
         [](TpbParams& p) {
             p.isolation = TDbIsolationLevel::ilCustom, p.params = {"Concurrency", "nowait", "nowait"};
         },
         bytes({3, 2, 7})},
        {"wait_time is lock_timeout on Firebird", [](TpbParams& p) { p.params = {"wait_time=300"}; },
         bytes({3, 15, 17, 7, 9, 21, 2, 0x2C, 0x01})},
    };
    for (const auto& c : cases) {
        TpbParams p;
        c.change(p);
        EXPECT_EQ(fb_build_tpb(p), c.expected) << c.what;
    }
    TpbParams p;
    p.isolation = TDbIsolationLevel::ilReadUnCommitted;
    EXPECT_EQ(error_of([&] { fb_build_tpb(p); }), "Unsupported transaction isolation level");
    TpbParams q;
    q.params = {"bogus"};
    EXPECT_EQ(error_of([&] { fb_build_tpb(q); }), "Unknown TPB constant (bogus)");
}

TEST(ClientLibrary, ChoiceByExtensionAndVersionText) {
    const ClientLibraryChoice fdb = choose_client_library("C:\\data\\SITE.FDB");
    EXPECT_EQ(choose_client_library("/d/x.fb").preferred, fdb.preferred);
    for (const char* other : {"C:\\data\\site.gdb", "/d/site", "/d.fdb/site", ""}) {
        ClientLibraryChoice c = choose_client_library(other);
        EXPECT_EQ(c.preferred, fdb.fallback) << other;
        EXPECT_EQ(c.fallback, fdb.preferred) << other;
    }
    EXPECT_NE(fdb.preferred, fdb.fallback);

    struct Case {
        const char* text;
        int major, minor, number;
        bool firebird;
    } cases[] = {
        {"LI-V6.3.11.33637 Firebird 3.0", 6, 3, 30000, true},
        {"WI-V2.5.9.27139 Firebird 2.5", 6, 3, 25000, true},
        {"WI-V13.0.0.1 InterBase", 13, 0, 130000, false},
        {"", 7, 5, 75000, false},
    };
    for (const auto& c : cases) {
        ClientVersion v = parse_client_version(c.text, c.major, c.minor);
        EXPECT_EQ(v.number, c.number) << c.text;
        EXPECT_EQ(v.is_firebird, c.firebird) << c.text;
    }
}

TEST(StatementText, CommentsAndParameterMarkers) {
    struct Case {
        std::string text, native;
        std::vector<std::string> params;
    } cases[] = {
        {"  update t set a = :x where b = 'c:d'\r\n", "update t set a = ? where b = 'c:d'", {"x"}},
        {"select :\"Quoted\", :1, :select from t", "select ?, ?, ? from t", {"Quoted", "1", "select"}},
        {"CREATE PROCEDURE P AS BEGIN x = :P_UID; END", "CREATE PROCEDURE P AS BEGIN x = :P_UID; END", {}},
        {"select :a from t where x = 1 or begin = :b", "select ? from t where x = 1 or begin = :b", {"a"}},
        {"-- 1. UKOD_DUZELT TETIKLEYICISI\r\nselect 1 from t",
         "/* 1. UKOD_DUZELT TETIKLEYICISI */\r\nselect 1 from t",
         {}},
        {"select 1 -- a */ b\nfrom t", "select 1 -- a */ b\nfrom t", {}},
        {"select '--:x' /* :y */ from t", "select '--:x' /* :y */ from t", {}},
        {"select a: from t", "select afrom t", {}},
        {"select '{' from t -- {", "select '{' from t /* { */", {}},
    };
    for (const auto& c : cases) {
        ProcessedText r = process_statement_text(c.text);
        EXPECT_EQ(r.native, c.native) << c.text;
        EXPECT_EQ(r.params, c.params) << c.text;
    }
    EXPECT_EQ(error_of([] { process_statement_text("select {fn now()} from t -- x"); }),
              "Unexpected character");
    EXPECT_EQ(error_of([] { process_statement_text("select {fn now()} from t"); }), "Unexpected character");
    EXPECT_EQ(error_of([] { process_statement_text("select \x01 from t"); }),
              "Parser: The unknown symbol $0001  '\x01'");
}

TEST(VariantValue, EqualsAnIntegerOnlyWhenNumeric) {
    EXPECT_TRUE(Variant::SmallInt(2027) == 2027);
    EXPECT_TRUE(Variant::Integer(2027) == 2027);
    EXPECT_TRUE(Variant::Int64(2027) == 2027);
    EXPECT_TRUE(Variant::Double(2027.0) == 2027);
    EXPECT_FALSE(Variant::Double(2027.5) == 2027);
    EXPECT_FALSE(Variant() == 2027);
    EXPECT_FALSE(Variant() == 0);
    EXPECT_FALSE(Variant::String("2027") == 2027);
    EXPECT_FALSE(Variant::Integer(2026) == 2027);
}
