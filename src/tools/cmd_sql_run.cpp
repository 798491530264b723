// kvtool sql-run: runs a script file on a site database the way the updater's
// script runner does (a connection set up like ibdb1, ibt1 as the script's
// transaction, no OnError), under a central error handler that prints each
// refused statement as {"error": MESSAGE, "offset": N} and lets the run go on.
// The last line is {"done": true, "rowsAffected": N}. An error that stops the
// run ends the tool with exit status 1 and the message on standard error.
#include "db/db_connection.h"
#include "db/script.h"
#include "rtl/exception.h"
#include "tools/command.h"
#include "tools/db_args.h"
#include "tools/json.h"

namespace kv::tool {
namespace {

int run_script(const DbArgs& a, const std::string& file) {
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure_site_connection(ibdb1, ibt1, a);
    TDbScript script("ScriptRunner");
    script.SetConnection(&ibdb1);
    script.SetTransaction(&ibt1);

    SetApplicationErrorHandler([&script](std::exception_ptr e) {
        const ErrorInfo info = describe_exception(e);
        if (info.silent) return;
        print_json({{"error", info.message}, {"offset", script.ErrorOffset()}});
    });
    struct RestoreHandler {
        ~RestoreHandler() { SetApplicationErrorHandler(nullptr); }
    } restore;

    script.ExecuteFile(file);
    print_json({{"done", true}, {"rowsAffected", script.RowsAffected()}});
    ibdb1.Close();
    return 0;
}

Runner sql_run(CLI::App& command) {
    auto a = std::make_shared<DbArgs>();
    auto file = std::make_shared<std::string>();
    add_db_args(command, *a);
    command.add_option("FILE", *file, "The script file")->required();
    return [a, file] { return run_script(*a, *file); };
}

} // namespace

KVTOOL_COMMAND("sql-run", "Run a script file on a site database as the updater's script runner does",
               sql_run);

} // namespace kv::tool
