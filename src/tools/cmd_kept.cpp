// kvtool rollback and kvtool recover: the kept release put back, and a change
// that a crash interrupted finished or undone, in the program folder (the
// current directory), without the network.
#include "platform/files.h"
#include "tools/command.h"
#include "tools/json.h"
#include "workflow/packages.h"
#include "workflow/put_in_place.h"
#include "workflow/task_killer.h"

namespace {

kv::tool::Runner cmd_rollback(CLI::App&) {
    return [] {
        const std::string folder = kv::os::current_directory();
        if (kv::kept_release(folder).empty()) {
            kv::tool::print_command_error("Nothing is kept to put back: " + folder + "\\" +
                                          kv::kKeptReleaseFolder + " holds no earlier release");
            return 1;
        }
        // The programs are stopped first, as the update stops them, so that their files can be replaced.
        std::vector<std::string> stopped;
        for (const char* program : kv::kProductPrograms)
            if (kv::KillProcessByName(program)) stopped.push_back(program);
        try {
            const std::vector<std::string> back = kv::put_kept_release_back(folder);
            kv::tool::print_json({{"stopped", stopped}, {"put_back", back}});
            return 0;
        } catch (const kv::Exception& e) {
            kv::tool::print_command_error(e.Message());
            return 1;
        }
    };
}

kv::tool::Runner cmd_recover(CLI::App&) {
    return [] {
        const std::string folder = kv::os::current_directory();
        try {
            kv::tool::Json finished = kv::tool::Json::array(), undone = kv::tool::Json::array();
            for (const kv::Recovered& r : kv::recover_unfinished(folder))
                (r.finished ? finished : undone).push_back(r.name);
            kv::tool::print_json({{"finished", finished}, {"undone", undone}});
            return 0;
        } catch (const kv::Exception& e) {
            kv::tool::print_command_error(e.Message());
            return 1;
        }
    };
}

} // namespace

KVTOOL_COMMAND("rollback", "Put back the files the last update replaced, from the kept release",
               cmd_rollback);
KVTOOL_COMMAND("recover", "Finish or undo a change to the program folder that a crash interrupted",
               cmd_recover);
