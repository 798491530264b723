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

int sql_run(const Args& args) {
    DbArgs a;
    if (!parse_db_args(args, 2, a)) return usage_error();
    TDbConnection ibdb1("ibdb1");
    TDbTransaction ibt1("ibt1");
    configure_site_connection(ibdb1, ibt1, a);
    TDbScript script("ScriptRunner");
    script.SetConnection(&ibdb1);
    script.SetTransaction(&ibt1);

    SetApplicationErrorHandler([&script](std::exception_ptr e) {
        const ErrorInfo info = describe_exception(e);
        if (info.silent) return;
        JsonObject().add("error", info.message).add("offset", script.ErrorOffset()).print();
    });
    struct RestoreHandler {
        ~RestoreHandler() { SetApplicationErrorHandler(nullptr); }
    } restore;

    script.ExecuteFile(a.rest[1]);
    JsonObject().add("done", true).add("rowsAffected", script.RowsAffected()).print();
    ibdb1.Close();
    return 0;
}

} // namespace

KVTOOL_COMMAND("sql-run", "[--server HOST] DATABASE FILE", sql_run);

} // namespace kv::tool
