// kvtool marker: reads the site database's year marker the way the database
// upgrade step does (a connection set up like the updater's, the year query
// through a TDbQuery) and prints {"yil": 2026} or {"yil": null}.
#include "db/db_connection.h"
#include "db/db_query.h"
#include "tools/command.h"
#include "tools/db_args.h"
#include "tools/json.h"
#include "tools/variant_json.h"
#include "workflow/site_database.h"

namespace kv::tool {
namespace {

Runner marker(CLI::App& command) {
    auto a = std::make_shared<DbArgs>();
    add_db_args(command, *a);
    return [a] {
        TDbConnection ibdb1("ibdb1");
        TDbTransaction ibt1("ibt1");
        configure_site_connection(ibdb1, ibt1, *a);
        TDbQuery uq1("uq1");
        uq1.SetConnection(&ibdb1);
        ibdb1.Open();
        print_json({{"yil", variant_json(read_year_marker(uq1))}});
        ibdb1.Close();
        return 0;
    };
}

} // namespace

KVTOOL_COMMAND("marker", "Read the site database's year marker as the database step does", marker);

} // namespace kv::tool
