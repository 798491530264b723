// The site connection's setup and the year marker query. See site_database.h.
#include "workflow/site_database.h"

namespace kv {

void configure_site_connection(TDbConnection& c, TDbTransaction& t, const std::string& client_library) {
    c.SetProviderName("InterBase");
    c.SetUsername(kSiteDatabaseUser);
    c.SetPassword(kSiteDatabasePassword);
    c.LoginPrompt = false;
    if (!client_library.empty()) {
        FbConnectionOptions options = c.Options();
        options.client_library = client_library;
        c.SetOptions(options);
    }
    t.SetDefaultConnection(&c);
    c.SetDefaultTransaction(&t);
}

Variant read_year_marker(TDbQuery& q) {
    q.Close();
    q.SetSQL(kYearMarkerQuery);
    q.Open();
    return q.FieldByName("yil").AsVariant();
}

} // namespace kv
