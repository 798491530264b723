// kvtool kill NAME: stops every process of one program as the update does,
// and prints the routine's result.
#include "tools/command.h"
#include "tools/json.h"
#include "workflow/task_killer.h"

namespace {

int cmd_kill(const kv::tool::Args& args) {
    if (args.size() != 1) return kv::tool::usage_error();
    kv::tool::JsonObject().add("result", kv::KillProcessByName(args[0])).print();
    return 0;
}

} // namespace

KVTOOL_COMMAND("kill", "NAME", cmd_kill);
