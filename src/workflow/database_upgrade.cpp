// The database upgrade step: open the site database, read the year marker,
// refuse when it already says 2027, else run the upgrade script and commit;
// in every outcome close the database and hand over to the package step.
//
// The script's first statement sets the marker and its final COMMIT makes it
// permanent whatever failed in between, so the marker alone would claim an
// upgrade that did not happen. After the script the 2027 schema check decides:
// complete, and the marker says 2027 (set again when its own statement
// failed); incomplete, and the marker is put back to what it held, so that the
// next run makes what is missing.
#include "app/form1.h"
#include "db/db_errors.h"
#include "platform/files.h"
#include "rtl/in_any_case.h"
#include "rtl/text.h"
#include "workflow/database_backup.h"
#include "workflow/schema_check.h"
#include "workflow/site_database.h"
#include "workflow/upgrade_script.h"

namespace kv {
namespace {

// Whether the error is one after which the client takes the connection as lost.
bool lost_connection(const Exception& e) {
    const auto* db = dynamic_cast<const EDbError*>(&e);
    if (!db || !db->InnerError) return false;
    try {
        std::rethrow_exception(db->InnerError);
    } catch (const EFbError& inner) {
        return inner.IsFatal();
    } catch (...) {
    }
    return false;
}

// Runs `sql` in a transaction of its own on `c`, committed at once.
void execute_alone(TDbConnection& c, const std::string& sql) {
    TDbTransaction own("marker");
    own.SetDefaultConnection(&c);
    TDbSQL command("marker");
    command.SetConnection(&c);
    command.SetTransaction(&own);
    command.SetSQL(sql);
    own.StartTransaction();
    command.Execute();
    own.Commit();
}

// Rows of FIRMABILGI whose marker is not 2027 (none when the table has no row).
int64_t rows_not_upgraded(TDbQuery& q) {
    q.Close();
    q.SetSQL("select count(*) from firmabilgi where yil is distinct from " + std::to_string(kUpgradeYear));
    q.Open();
    return q.Fields(0).AsVariant().AsInt64();
}

std::string failure_line(size_t missing) {
    return "2027 Database güncellemesi tamamlanamadı: " + std::to_string(missing) + " nesne eksik.";
}

// Whether the database's files are on this machine: a local attach, or the
// server named as this machine ("localhost", "127.0.0.1", "::1", with or
// without a port). A server named otherwise may be another machine even
// when a folder of the same name exists here.
bool on_this_machine(const std::string& server) {
    const std::string host = ascii_lower(server.substr(0, server.find('/')));
    return host.empty() || host == "localhost" || host == "127.0.0.1" || host == "::1" || host == "[::1]";
}

// The folder part of a path, "\\" or "/" separated; empty when it has none.
std::string folder_of(const std::string& path) {
    const size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

} // namespace

// Backs the database up through the services API before any statement of the
// script runs. The first good backup at a marker is kept: a later run at the
// same marker (after a failed upgrade) leaves it as it is, so it always
// holds the database from before any 2027 statement. Where the updater sees
// the database's folder (a local database, or a server on this machine) the
// engine writes a ".part" file that takes the name only once it is whole;
// for a server elsewhere the file cannot be seen from here and is written
// under its name. Throws the backup's error.
void TForm1::back_up_before_upgrade(const Variant& marker) {
    const std::string file = backup_file_name(ibdb1.Database(), marker);
    const bool visible = on_this_machine(ibdb1.Server()) && os::directory_exists(folder_of(file));
    if (visible && os::file_exists(file)) {
        Log().Database("backup kept from an earlier run: " + file);
        return;
    }
    SetStatusText("Veritabanı yedekleniyor..");
    const std::string written = visible ? file + ".part" : file;
    if (visible) os::delete_file(written);
    try {
        back_up_database(ibdb1, written, [&](const std::string& line) {
            if (!line.empty()) SetProgressText(line);
            ProcessMessages();
        });
        if (visible && !os::replace_file(written, file))
            throw Exception("Cannot rename " + written + " to " + file + ": " +
                            os::system_error_text(os::last_error()));
    } catch (const Exception& e) {
        if (visible) os::delete_file(written);
        Log().Database("backup failed: " + file);
        throw Exception("Veritabanı yedeklenemedi (" + file + "): " + e.Message());
    }
    Log().Database("backup made: " + file);
}

void TForm1::setup_database_components() {
    configure_site_connection(ibdb1, ibt1, Config.DbClientLibrary);
    uq1.SetConnection(&ibdb1);
    ScriptRunner.SetConnection(&ibdb1);
    ScriptRunner.SetTransaction(&ibt1);
}

// Reads the marker once more for the run log, on the step's own connection
// and query, before the hand-over closes them. Whatever this meets stays in
// the log: the step's outcome is already decided.
void TForm1::log_year_marker_after() {
    if (!Log().IsOpen() || !ibdb1.Connected()) return;
    try {
        Log().YearMarker("after the database step", read_year_marker(uq1));
    } catch (...) {
        Log().YearMarkerUnread("after the database step", innermost_message(std::current_exception()));
    }
}

// Runs the script. A default row of FATURABILGI that an earlier run already
// committed is not inserted again. Returns the error that stopped the run (a
// failed commit), after rolling back what it left uncommitted; null when the
// run went to its end. When the connection was lost on the way, that is the
// error that leaves here, whatever a later call then raised.
std::exception_ptr TForm1::run_upgrade_script() {
    const SchemaObject& row = invoice_settings_default_row();
    const bool row_there = holds_row(ibdb1, row);
    ScriptRunner.BeforeExecute = [&](TDbScript&, std::string& sql, bool& omit) {
        if (row_there && inserts_into(sql, row)) {
            omit = true;
            Log().Database("left out: the default row of " + row.name + " is there already");
        }
    };
    std::exception_ptr lost;
    ScriptRunner.OnError = [&](TDbScript&, const Exception& e, const std::string&, TErrorAction&) {
        // Called while the runner handles the error, so it is the one in flight.
        if (!lost && lost_connection(e)) lost = std::current_exception();
    };
    std::exception_ptr stopped;
    in_any_case(
        [&] {
            try {
                ScriptRunner.Execute();
                if (lost) std::rethrow_exception(lost);
                ibdb1.StartTransaction();
                ibdb1.CommitRetaining();
            } catch (...) {
                if (lost) std::rethrow_exception(lost);
                stopped = std::current_exception();
                // When the error already ended ibt1 (a failed final commit),
                // a rollback would only raise "inactive transaction" and hide
                // the error that stopped the upgrade.
                if (ibt1.Active()) ibdb1.Rollback();
            }
        },
        [&] {
            ScriptRunner.BeforeExecute = nullptr;
            ScriptRunner.OnError = nullptr;
        });
    return stopped;
}

// The marker follows the 2027 schema check: 2027 only when the schema is
// complete, else back to `before`, the value the step read before the script.
// A run that `stopped` ends with its own error in any case; when the schema
// is incomplete, the missing objects are named after it.
void TForm1::settle_year_marker(const Variant& before, std::exception_ptr stopped) {
    const std::vector<std::string> missing = missing_2027_objects(ibdb1);
    if (missing.empty()) {
        if (rows_not_upgraded(uq1) > 0) {
            // The marker's own statement failed: another workstation held the
            // row, or the run stopped before its final commit.
            try {
                execute_alone(ibdb1, "update firmabilgi set yil=" + std::to_string(kUpgradeYear));
            } catch (const Exception& e) {
                AddLogLine(failure_line(1));
                Log().SchemaLacks("year marker: FIRMABILGI.yil is not 2027");
                throw Exception("2027 yıl işareti yazılamadı: " + e.Message());
            }
        }
        if (rows_not_upgraded(uq1) > 0) {
            AddLogLine(failure_line(1));
            Log().SchemaLacks("year marker: FIRMABILGI.yil is not 2027");
            throw Exception("2027 yıl işareti yazılamadı: FIRMABILGI.yil 2027 olmadı");
        }
        AddLogLine("2027 Database güncellemesi Başarı ile tamamlandı..");
        if (stopped) std::rethrow_exception(stopped);
        return;
    }
    std::string restore_error;
    try {
        execute_alone(ibdb1, "update firmabilgi set yil=" + marker_literal(before));
    } catch (const Exception& e) {
        restore_error = "; yıl işareti geri alınamadı: " + e.Message();
    }
    AddLogLine(failure_line(missing.size()));
    std::string names;
    for (const std::string& object : missing) {
        Log().SchemaLacks(object);
        names += (names.empty() ? "" : "; ") + object;
    }
    const std::string incomplete =
        "2027 Database güncellemesi tamamlanamadı. Eksik nesneler: " + names + restore_error;
    if (!stopped) throw Exception(incomplete);
    try {
        std::rethrow_exception(stopped);
    } catch (const Exception& e) {
        throw Exception(e.Message() + "\r" + incomplete);
    }
}

void TForm1::Button3Click(TObject*) {
    in_any_case(
        [&] {
            ibdb1.Open();
            const Variant marker = read_year_marker(uq1); // starts ibt1, which stays active
            Log().YearMarker("before the database step", marker);
            if (marker_is_upgraded(marker)) {
                ShowNotice("2027 güncellemesi yapılmış. işlem iptal edilecek");
                Abort();
            }
            back_up_before_upgrade(marker);
            ScriptRunner.SetSQL(upgrade_script());
            settle_year_marker(marker, run_upgrade_script());
        },
        [&] {
            log_year_marker_after();
            ibdb1.Close();
            Button5.SetEnabled(true);
            Button5Click(this);
        });
}

} // namespace kv
