// isql as an oracle for the script runner where both follow the same rules:
// with SET TERM around every body, both must cut the same statements, refuse
// the same ones with the same server text, and leave the same database.
#include "db/script.h"
#include "site_db.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using namespace kv;
using namespace kv::test;

namespace {

// The refusals isql reports for a script: each "Statement failed" block's
// message lines (without isql's "-" prefixes) joined by CR, as the client
// library's lines reach our error text.
std::vector<std::string> isql_refusals(const SiteDb& db, const std::string& script) {
    const std::string file = db.Folder() + "/oracle.sql";
    std::ofstream(file, std::ios::binary) << script;
    const std::string out = run("(isql-fb -q -user SYSDBA -password " + std::string(kSiteDatabasePassword) +
                                " -i " + file + " localhost:" + db.Path() + " 2>&1; true)");
    std::vector<std::string> refusals;
    std::istringstream lines(out);
    std::string line;
    std::string* current = nullptr;
    while (std::getline(lines, line)) {
        if (line.rfind("Statement failed", 0) == 0) {
            refusals.emplace_back();
            current = &refusals.back();
        } else if (current && (line.rfind("After line", 0) == 0 || line.rfind("At line", 0) == 0)) {
            current = nullptr;
        } else if (current) {
            if (!current->empty()) *current += '\r';
            *current += line.rfind('-', 0) == 0 ? line.substr(1) : line;
        }
    }
    return refusals;
}

std::vector<std::string> runner_refusals(const SiteDb& db, const std::string& script) {
    TDbConnection ibdb1;
    TDbTransaction ibt1;
    configure(ibdb1, ibt1, Attach::Server, db.Path());
    TDbScript runner;
    runner.SetConnection(&ibdb1);
    runner.SetTransaction(&ibt1);
    std::vector<std::string> refusals;
    SetApplicationErrorHandler(
        [&](std::exception_ptr e) { refusals.push_back(describe_exception(e).message); });
    runner.SetSQL(script);
    runner.Execute();
    SetApplicationErrorHandler(nullptr);
    ibdb1.Close();
    return refusals;
}

} // namespace

TEST(ScriptIsqlOracle, SameRefusalsAndSameResult) {
    const std::string script = "create table t_o (a integer);\n"
                               "create table t_o (a integer);\n"
                               "set term ^ ;\n"
                               "create procedure p_o returns (r integer) as\n"
                               "declare variable x integer;\n"
                               "begin x = 1; r = case when x = 1 then 5 else 6 end; suspend; end^\n"
                               "create procedure p_o returns (r integer) as begin r = 1; suspend; end^\n"
                               "set term ; ^\n"
                               "selec 1 from rdb$database;\n"
                               "insert into t_o select r from p_o;\n"
                               "insert into t_o values (';');\n"
                               "/* ; */ insert into t_o values (7); -- ;\n"
                               "commit;\n";
    SiteDb by_isql, by_runner;
    const auto expected = isql_refusals(by_isql, script);
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(runner_refusals(by_runner, script), expected);
    const std::string count = "select count(*) || ' rows, sum ' || sum(a) from t_o;";
    EXPECT_EQ(by_runner.Isql(count), by_isql.Isql(count));
}
