// kvtool kill NAME: stops every process of one program as the update does,
// and prints the routine's result.
#include "tools/command.h"
#include "tools/json.h"
#include "workflow/task_killer.h"

namespace {

kv::tool::Runner cmd_kill(CLI::App& command) {
    auto name = std::make_shared<std::string>();
    command.add_option("NAME", *name, "Program file name, such as kuvento.exe")->required();
    return [name] {
        kv::tool::print_json({{"result", kv::KillProcessByName(*name)}});
        return 0;
    };
}

} // namespace

KVTOOL_COMMAND("kill", "Stop every process of one program as the update does", cmd_kill);
