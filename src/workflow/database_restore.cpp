// The way back from the database step. See database_restore.h.
#include "workflow/database_restore.h"

#include "db/db_errors.h"
#include "db/db_query.h"
#include "db/fb_service.h"
#include "platform/files.h"
#include "rtl/text.h"
#include "workflow/database_backup.h"
#include "workflow/preflight.h"
#include "workflow/site_database.h"

#include <algorithm>

namespace kv {
namespace {

// How long a server's shutdown waits for attachments that came after the
// check to end before it fails.
constexpr int kShutdownWaitSeconds = 10;

size_t name_start(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? 0 : slash + 1;
}

// The marker of the database `database` on the engine of `like`, read through a
// connection of its own, which is closed again.
Variant marker_of(const TDbConnection& like, const std::string& database) {
    TDbConnection c("restored");
    TDbTransaction t("restored_transaction");
    configure_site_connection(c, t);
    c.SetOptions(like.Options());
    c.SetServer(like.Server());
    c.SetDatabase(database);
    c.Open();
    Variant marker;
    {
        TDbQuery q;
        q.SetConnection(&c);
        marker = read_year_marker(q);
    }
    c.Close();
    return marker;
}

// The restored database opens; with a known `marker` (the backup's name gives
// it), it holds that marker, as the backup's name spells it.
void check_marker(const TDbConnection& c, const std::string& database,
                  const std::optional<std::string>& marker) {
    const Variant found = marker_of(c, database);
    if (marker && backup_file_name("", found) != "." + *marker + ".fbk")
        throw Exception("The restored database " + database + " holds the year marker " + marker_text(found) +
                        ", not the backup's " + *marker);
}

void run_restore(TDbConnection& c, const std::string& file, const std::string& database, bool replace,
                 const std::function<void(const std::string&)>& on_line) {
    c.Wrap([&] {
        TFbService service(c.Provider(), c.Server(), kSiteDatabaseUser, kSiteDatabasePassword);
        service.StartRestore(file, database, replace);
        // As with the backup, older engines report a failure only in the output.
        std::string failure;
        for (std::string line; service.NextLine(line);) {
            if (line.find("ERROR:") != std::string::npos) failure += (failure.empty() ? "" : "\r") + line;
            on_line(line);
        }
        if (!failure.empty()) throw EFbError(failure);
    });
}

std::string restore_embedded(TDbConnection& c, const std::string& file,
                             const std::optional<std::string>& marker,
                             const std::function<void(const std::string&)>& on_line) {
    const std::string live = c.Database();
    const std::string restored = live + kRestoringSuffix, aside = live + kBeforeRollbackSuffix;
    // What an interrupted earlier run left under the new name was never the live database.
    os::delete_file(restored);
    try {
        run_restore(c, file, restored, false, on_line);
        check_marker(c, restored, marker);
        // Once more right before the swap: a program may have attached during the restore.
        refuse_other_attachments(c);
    } catch (...) {
        os::delete_file(restored);
        throw;
    }
    if (os::file_exists(aside))
        throw Exception("Cannot put the restored database in place: " + aside +
                        " is there from an earlier way back; move it away first");
    if (!os::move_file(live, aside)) {
        const std::string why = os::system_error_text(os::last_error());
        os::delete_file(restored);
        throw Exception("Cannot put the restored database in place: " + live + " cannot be renamed: " + why);
    }
    if (!os::move_file(restored, live)) {
        const std::string why = os::system_error_text(os::last_error());
        if (!os::move_file(aside, live))
            throw Exception("The database was renamed to " + aside +
                            " and cannot be renamed back: rename it to " + live + " by hand (" + why + ")");
        os::delete_file(restored);
        throw Exception("Cannot put the restored database in place: " + restored +
                        " cannot be renamed: " + why);
    }
    os::flush_directory(live.substr(0, name_start(live)));
    return aside;
}

void restore_on_server(TDbConnection& c, const std::string& file, const std::optional<std::string>& marker,
                       const std::function<void(const std::string&)>& on_line) {
    c.Wrap([&] {
        TFbService(c.Provider(), c.Server(), kSiteDatabaseUser, kSiteDatabasePassword)
            .ShutDown(c.Database(), kShutdownWaitSeconds);
    });
    try {
        run_restore(c, file, c.Database(), true, on_line);
    } catch (...) {
        try {
            c.Wrap([&] {
                TFbService(c.Provider(), c.Server(), kSiteDatabaseUser, kSiteDatabasePassword)
                    .BringOnline(c.Database());
            });
        } catch (...) {
            // the restore's error is the one to report
        }
        throw;
    }
    check_marker(c, c.Database(), marker);
}

} // namespace

void refuse_other_attachments(TDbConnection& c) {
    std::vector<std::string> others;
    try {
        c.Open();
    } catch (const EDbError& e) {
        // An embedded engine of another program holding the file is one reason.
        throw EDbError("Cannot open the database to check that nothing else uses it: " + e.Message());
    }
    {
        TDbQuery q;
        q.SetConnection(&c);
        others = other_attachments(q);
    }
    c.Close();
    if (!others.empty())
        throw Exception("The database is in use; close these attachments first: " + joined(others, "; "));
}

std::vector<std::string> kept_backups(const std::string& database) {
    std::vector<std::string> found;
    const size_t start = name_start(database);
    const auto entries = os::list_directory(start ? database.substr(0, start) : ".");
    if (!entries) return found;
    for (const os::DirEntry& e : *entries) {
        const std::string path = database.substr(0, start) + e.name;
        if (!e.is_directory && backup_marker(database, path)) found.push_back(path);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::optional<std::string> backup_marker(const std::string& database, const std::string& file) {
    const std::string prefix = ascii_lower(database) + ".", suffix = ".fbk", lower = ascii_lower(file);
    if (lower.size() <= prefix.size() + suffix.size() || lower.compare(0, prefix.size(), prefix) != 0 ||
        lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    return file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
}

std::shared_ptr<TFbClient> hold_client_library(const TDbConnection& c) {
    return TFbClientList::Get(c.Options().client_library, choose_client_library(c.Database()));
}

std::string restore_database(TDbConnection& c, const std::string& file,
                             const std::optional<std::string>& marker,
                             const std::function<void(const std::string&)>& on_line) {
    const std::shared_ptr<TFbClient> client = c.Wrap([&] { return hold_client_library(c); });
    refuse_other_attachments(c);
    if (c.Server().empty()) return restore_embedded(c, file, marker, on_line);
    restore_on_server(c, file, marker, on_line);
    return "";
}

} // namespace kv
