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

int query(const Args& args) {
    DbArgs a;
    if (!parse_db_args(args, 2, a)) return usage_error();
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure_site_connection(ibdb1, ibt1, a);
    TDbQuery q("query");
    q.SetConnection(&ibdb1);
    q.UniDirectional = true; // a look at a big table should not hold every row at once
    q.SetSQL(a.rest[1]);
    q.Open();
    std::string line;
    const int n = q.FieldCount();
    for (; !q.Eof(); q.Next()) {
        JsonObject row;
        for (int i = 0; i < n; ++i)
            row.add_raw(q.Fields(i).FieldName(), variant_json(q.Fields(i).AsVariant()));
        line = row.str();
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
    ibdb1.Close();
    return 0;
}

} // namespace

KVTOOL_COMMAND("query", "[--server HOST] DATABASE SQL", query);

} // namespace kv::tool
