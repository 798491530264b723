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

void TForm1::Button3Click(TObject*) {
    in_any_case(
        [&] {
            ibdb1.Open();
            uq1.SetSQL("Select yil from firmabilgi");
            uq1.Open(); // starts ibt1, which stays active
            if (uq1.FieldByName("yil").AsVariant() == 2027) {
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
            ibdb1.Close();
            Button5.SetEnabled(true);
            Button5Click(this);
        });
}

} // namespace kv
