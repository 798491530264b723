// The database upgrade step: open the site database, read the year marker,
// refuse when it already says 2027, else run the upgrade script and commit;
// in every outcome close the database and hand over to the package step.
#include "app/form1.h"
#include "rtl/in_any_case.h"
#include "workflow/upgrade_script.h"

namespace kv {

void TForm1::setup_database_components() {
    ibdb1.SetProviderName("InterBase");
    ibdb1.SetUsername(kSiteDatabaseUser);
    ibdb1.SetPassword(kSiteDatabasePassword);
    ibdb1.LoginPrompt = false;
    if (!Config.DbClientLibrary.empty()) {
        FbConnectionOptions options = ibdb1.Options();
        options.client_library = Config.DbClientLibrary;
        ibdb1.SetOptions(options);
    }
    ibt1.SetDefaultConnection(&ibdb1);
    ibdb1.SetDefaultTransaction(&ibt1);
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
        uq1.Close();
        uq1.SetSQL("Select yil from firmabilgi");
        uq1.Open();
        Log().YearMarker("after the database step", uq1.FieldByName("yil").AsVariant());
    } catch (...) {
        Log().YearMarkerUnread("after the database step", innermost_message(std::current_exception()));
    }
}

void TForm1::Button3Click(TObject*) {
    in_any_case(
        [&] {
            ibdb1.Open();
            uq1.SetSQL("Select yil from firmabilgi");
            uq1.Open(); // starts ibt1, which stays active
            const Variant marker = uq1.FieldByName("yil").AsVariant();
            Log().YearMarker("before the database step", marker);
            if (marker == 2027) {
                ShowNotice("2027 güncellemesi yapılmış. işlem iptal edilecek");
                Abort();
            }
            ScriptRunner.SetSQL(upgrade_script());
            try {
                ScriptRunner.Execute();
                ibdb1.StartTransaction();
                ibdb1.CommitRetaining();
                AddLogLine("2027 Database güncellemesi Başarı ile tamamlandı..");
            } catch (...) {
                // When the error already ended ibt1 (a failed final commit),
                // a rollback would only raise "inactive transaction" and hide
                // the error that stopped the upgrade.
                if (ibt1.Active()) ibdb1.Rollback();
                throw;
            }
        },
        [&] {
            log_year_marker_after();
            ibdb1.Close();
            Button5.SetEnabled(true);
            Button5Click(this);
        });
}

} // namespace kv
