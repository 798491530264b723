// kvtool rollback and kvtool recover: the kept release put back (with
// --database, the database restored from the backup the update made before
// its upgrade too), and a change that a crash interrupted finished or undone,
// in the program folder (the current directory), without the network.
#include "platform/files.h"
#include "tools/command.h"
#include "tools/json.h"
#include "tools/site_window.h"
#include "workflow/database_backup.h"
#include "workflow/database_restore.h"
#include "workflow/packages.h"
#include "workflow/preflight.h"
#include "workflow/put_in_place.h"
#include "workflow/site_database.h"
#include "workflow/task_killer.h"

#include <ctime>
#include <memory>

namespace {

// The programs are stopped first, as the update stops them, so that their
// files can be replaced and their attachments to the database end.
std::vector<std::string> stop_product_programs() {
    std::vector<std::string> stopped;
    for (const char* program : kv::kProductPrograms)
        if (kv::KillProcessByName(program)) stopped.push_back(program);
    return stopped;
}

// "2026-12-11 10:30" in the machine's time zone, or a text saying the time is unknown.
std::string local_time_text(std::optional<int64_t> seconds) {
    if (!seconds) return "at a time this machine cannot read (the file is on the database server)";
    const std::time_t t = static_cast<std::time_t>(*seconds);
    char text[32];
    if (!std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", std::localtime(&t))) return "at an unknown time";
    return std::string("on ") + text;
}

// What kvtool rollback --database acts on: the site database as the updater
// reaches it, and the backup the database step kept.
struct DatabaseWayBack {
    kv::tool::SiteWindow site;
    std::shared_ptr<kv::TFbClient> client; // one load of the library for the whole command
    std::string backup;
    std::optional<std::string> marker;

    // Throws kv::Exception when the settings cannot be read or no single kept
    // backup is found.
    explicit DatabaseWayBack(const std::string& chosen_backup) {
        if (site.application.Terminated())
            throw kv::Exception(site.boxes.empty() ? "The updater's start-up ends here" : site.boxes.back());
        const std::string& database = db().Database();
        client = kv::hold_client_library(db());
        backup = chosen_backup;
        if (backup.empty()) {
            const std::vector<std::string> kept = kv::kept_backups(database);
            if (kept.empty())
                throw kv::Exception(
                    "No backup of " + database + " is kept beside it (" +
                    kv::backup_file_name(database, kv::Variant::Integer(kv::kUpgradeYear - 1)) +
                    " or the like); name the backup with --backup");
            if (kept.size() > 1)
                throw kv::Exception("More than one backup of " + database + " is kept beside it (" +
                                    kv::joined(kept) + "); name the one to restore with --backup");
            backup = kept.front();
        }
        marker = kv::backup_marker(database, backup);
    }
    kv::TDbConnection& db() { return site.form->ibdb1; }

    std::string Warning() {
        return "The database " + db().Database() + " goes back to the backup " + backup + ", made " +
               local_time_text(kv::os::file_modified_time(backup)) +
               ": everything written to the database since then is lost.";
    }
};

kv::tool::Runner cmd_rollback(CLI::App& command) {
    auto database = std::make_shared<bool>(false);
    auto yes = std::make_shared<bool>(false);
    auto backup = std::make_shared<std::string>();
    command.add_flag("--database", *database,
                     "Also restore the database from the backup the update made before its upgrade");
    command.add_flag("--yes", *yes,
                     "Go ahead with --database although what was written since the backup is lost");
    command.add_option("--backup", *backup,
                       "The backup to restore (default: the one kept beside the database), as the database's "
                       "machine knows it");
    command.footer("Run it in the program folder. With --database the files go back first, then the\n"
                   "database; when the database cannot go back, the previous programs run on the 2027\n"
                   "schema, and the command can be run again once the cause is mended.");
    return [database, yes, backup] {
        const std::string folder = kv::os::current_directory();
        if (kv::kept_release(folder).empty()) {
            kv::tool::print_command_error("Nothing is kept to put back: " + folder + "\\" +
                                          kv::kKeptReleaseFolder + " holds no earlier release");
            return 1;
        }
        std::unique_ptr<DatabaseWayBack> way_back;
        kv::tool::Json done;
        try {
            if (*database) {
                way_back = std::make_unique<DatabaseWayBack>(*backup);
                if (!*yes) {
                    kv::tool::print_command_error(way_back->Warning() +
                                                  " Nothing was changed; run again with "
                                                  "--yes to go ahead.");
                    return 1;
                }
                kv::tool::print_command_error(way_back->Warning());
            }
            done["stopped"] = stop_product_programs();
            // Another workstation's attachment is refused before anything changes.
            if (way_back) kv::refuse_other_attachments(way_back->db());
            done["put_back"] = kv::put_kept_release_back(folder);
            if (way_back) {
                const std::string before = kv::restore_database(way_back->db(), way_back->backup,
                                                                way_back->marker, [](const std::string&) {});
                done["database"] = way_back->db().Database();
                done["restored_from"] = way_back->backup;
                if (!before.empty()) done["kept_before"] = before;
            }
            kv::tool::print_json(done);
            return 0;
        } catch (const kv::Exception& e) {
            if (done.contains("put_back")) kv::tool::print_json(done);
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

KVTOOL_COMMAND("rollback",
               "Put back the files the last update replaced, from the kept release (and the database, with "
               "--database)",
               cmd_rollback);
KVTOOL_COMMAND("recover", "Finish or undo a change to the program folder that a crash interrupted",
               cmd_recover);
