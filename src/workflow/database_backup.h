// The backup the database step makes before the upgrade: through the client
// library's services API, by the engine that holds the database, into a file
// on that engine's machine. kvtool backup makes the same one, for support
// technicians and for the benchmark against gbak.
#pragma once

#include "db/db_connection.h"
#include "rtl/variant.h"

#include <functional>
#include <string>

namespace kv {

// The backup of `database` at year marker `marker`, beside it:
// "KUVENTO.FDB.2026.fbk" ("….null.fbk" for a null marker).
std::string backup_file_name(const std::string& database, const Variant& marker);

// Backs the database of `c` (open) up into `file`, a path on the database's
// machine, with the built-in user. `on_line` is called with each line the
// service writes (a moment without one gives an empty line), so the caller
// can show progress and pump events. Throws EDbError with the service's error.
void back_up_database(TDbConnection& c, const std::string& file,
                      const std::function<void(const std::string&)>& on_line);

} // namespace kv
