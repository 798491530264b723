// kvtool query: a support technician's look into a site database. Runs one
// statement over a connection set up like the updater's and prints each row
// as a JSON object keyed by the column names the server reports.
#include "db/db_connection.h"
#include "db/db_query.h"
#include "tools/command.h"
#include "tools/db_args.h"
#include "tools/json.h"
#include "tools/variant_json.h"

#include <cstdio>
#include <string>

namespace kv::tool {
namespace {

int run_query(const DbArgs& a, const std::string& sql) {
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure_site_connection(ibdb1, ibt1, a);
    TDbQuery q("query");
    q.SetConnection(&ibdb1);
    q.UniDirectional = true; // a look at a big table should not hold every row at once
    q.SetSQL(sql);
    q.Open();
    std::string line;
    const int n = q.FieldCount();
    for (; !q.Eof(); q.Next()) {
        Json row = Json::object();
        for (int i = 0; i < n; ++i)
            row[q.Fields(i).FieldName()] = variant_json(q.Fields(i).AsVariant());
        line = json_line(row);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
    ibdb1.Close();
    return 0;
}

Runner query(CLI::App& command) {
    auto a = std::make_shared<DbArgs>();
    auto sql = std::make_shared<std::string>();
    add_db_args(command, *a);
    command.add_option("SQL", *sql, "The statement to run")->required();
    return [a, sql] { return run_query(*a, *sql); };
}

} // namespace

KVTOOL_COMMAND("query", "Run one statement on a site database and print each row as JSON", query);

} // namespace kv::tool
