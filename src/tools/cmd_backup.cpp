// kvtool backup: the backup the database step makes before the upgrade,
// made the same way (the services API, by the engine that holds the
// database) into a file named on the command line, a path on the database's
// machine. Prints {"file": ..., "lines": N} with the number of lines the
// service wrote.
#include "tools/command.h"
#include "tools/db_args.h"
#include "tools/json.h"
#include "workflow/database_backup.h"

namespace kv::tool {
namespace {

Runner backup(CLI::App& command) {
    auto a = std::make_shared<DbArgs>();
    auto file = std::make_shared<std::string>();
    add_db_args(command, *a);
    command.add_option("FILE", *file, "Backup file, as the database's machine knows it")->required();
    return [a, file] {
        TDbConnection ibdb1("ibdb1");
        TDbTransaction ibt1("ibt1");
        configure_site_connection(ibdb1, ibt1, *a);
        ibdb1.Open();
        int64_t lines = 0;
        back_up_database(ibdb1, *file, [&](const std::string& line) { lines += !line.empty(); });
        ibdb1.Close();
        print_json({{"file", *file}, {"lines", lines}});
        return 0;
    };
}

} // namespace

KVTOOL_COMMAND("backup", "Back the site database up as the database step does before the upgrade", backup);

} // namespace kv::tool
