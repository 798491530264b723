// The arguments the database commands of kvtool share ([--server HOST]
// DATABASE ...) and the connection set up like the updater's ibdb1 (provider
// "InterBase", the built-in user and password, no login prompt, default
// transaction ibt1).
#pragma once

#include "db/db_connection.h"
#include "tools/command.h"

#include <string>
#include <vector>

namespace kv::tool {

struct DbArgs {
    std::string server;
    std::vector<std::string> rest; // DATABASE, then the command's own words
};

// false when the words do not fit "[--server HOST] DATABASE" plus `extra` words.
inline bool parse_db_args(const Args& args, size_t extra_after_database, DbArgs& out) {
    size_t i = 0;
    if (args.size() >= 2 && args[0] == "--server") {
        out.server = args[1];
        i = 2;
    }
    out.rest.assign(args.begin() + static_cast<long>(i), args.end());
    return out.rest.size() == extra_after_database;
}

inline void configure_site_connection(TDbConnection& c, TDbTransaction& t, const DbArgs& a) {
    c.SetProviderName("InterBase");
    c.SetUsername(kSiteDatabaseUser);
    c.SetPassword(kSiteDatabasePassword);
    c.LoginPrompt = false;
    c.SetServer(a.server);
    c.SetDatabase(a.rest.at(0));
    t.SetDefaultConnection(&c);
    c.SetDefaultTransaction(&t);
}

} // namespace kv::tool
