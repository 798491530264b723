// The arguments the database commands of kvtool share ([--server HOST]
// DATABASE ...) and the connection set up like the updater's ibdb1
// (workflow/site_database.h) on them.
#pragma once

#include "db/db_connection.h"
#include "tools/command.h"
#include "workflow/site_database.h"

#include <string>

namespace kv::tool {

struct DbArgs {
    std::string server;
    std::string database;
};

// Declares "[--server HOST] DATABASE" on a command.
inline void add_db_args(CLI::App& command, DbArgs& a) {
    command.add_option("--server", a.server, "Database server (empty: the embedded engine)");
    command.add_option("DATABASE", a.database, "Database path as the server knows it")->required();
}

inline void configure_site_connection(TDbConnection& c, TDbTransaction& t, const DbArgs& a) {
    configure_site_connection(c, t);
    c.SetServer(a.server);
    c.SetDatabase(a.database);
}

} // namespace kv::tool
