// The way back from the database step: the backup it kept before the upgrade
// restored, without ever writing over the live database file while it is in
// use. kvtool rollback --database drives it.
//
// Embedded (a local file): the backup is restored by the embedded engine into
// a new file beside the database, "KUVENTO.FDB.geri-yukleniyor"; that file
// must open and hold the backup's marker. Then the names are swapped: the
// live file becomes "KUVENTO.FDB.geri-almadan-once", the restored one takes
// its name. The old file stays, with whatever was written since the backup,
// until a technician removes it; a later way back refuses while it is there.
// A swap that fails half-way names the file to put back.
//
// Through a server: the server's service manager shuts the database down
// (refusing new attachments, waiting a few seconds for none to be left and
// failing otherwise, never cutting one), restores the backup over it, which
// leaves it in normal service, and checks its marker. A restore that fails
// brings the old database back to service.
//
// Both refuse while another attachment holds the database, and name it.
#pragma once

#include "db/db_connection.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// Keeps the client library `c` is set up for loaded while it lives. The way
// back holds one for all its steps: unloading the embedded engine after one
// service and loading it again for the next can leave a thread of the last
// service running in code that is gone (the process then crashes).
std::shared_ptr<TFbClient> hold_client_library(const TDbConnection& c);

// The names the embedded way back gives the restored file while it is
// checked, and the live one while the names are swapped.
inline constexpr const char* kRestoringSuffix = ".geri-yukleniyor";
inline constexpr const char* kBeforeRollbackSuffix = ".geri-almadan-once";

// The backups the database step kept beside `database` ("<database>.<marker>.fbk",
// see backup_file_name), as this machine sees the folder, in name order;
// empty when there are none or the folder cannot be read here.
std::vector<std::string> kept_backups(const std::string& database);
// The marker a kept backup's file name gives ("2026"); nullopt when `file`
// is not named so.
std::optional<std::string> backup_marker(const std::string& database, const std::string& file);

// Throws Exception naming each attachment to the database of `c` (set up,
// closed) other than the engine's own; ours is closed again.
void refuse_other_attachments(TDbConnection& c);

// Restores `file`, the backup kept at `marker` (when its name says), as the database of `c`
// (set up as the site's connection, closed), as told above. `on_line` gets
// each line the service writes. Throws EDbError with the engine's error, or
// Exception naming the other attachments, a marker that does not match or
// the file to put back; the database is then as it was unless the message
// says otherwise. Returns where the database as it was before is kept (the
// embedded way back's "….geri-almadan-once"), or "" when it is not.
std::string restore_database(TDbConnection& c, const std::string& file,
                             const std::optional<std::string>& marker,
                             const std::function<void(const std::string&)>& on_line);

} // namespace kv
