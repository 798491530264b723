// The site connection's setup and the year marker query. See site_database.h.
#include "workflow/site_database.h"

#include "rtl/text.h"

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

std::vector<std::string> other_attachments(TDbQuery& q) {
    q.Close();
    q.SetSQL("select mon$remote_address as host, mon$remote_process as program, mon$user as login "
             "from mon$attachments where mon$attachment_id <> current_connection and mon$system_flag = 0");
    q.Open();
    std::vector<std::string> others;
    for (; !q.Eof(); q.Next()) {
        auto text = [&](const char* field) {
            const Variant v = q.FieldByName(field).AsVariant();
            // The engine pads the login to its column's width.
            return v.IsNull() ? std::string("this machine")
                              : display_text(Variant::String(trim(v.AsString())));
        };
        others.push_back(text("HOST") + ", " + text("PROGRAM") + " (" + text("LOGIN") + ")");
    }
    q.Close();
    return others;
}

std::string marker_text(const Variant& marker) {
    if (marker.IsNull()) return "null";
    if (marker.type() == Variant::Type::String) return marker.AsString();
    if (marker.type() == Variant::Type::Double &&
        marker.AsDouble() != static_cast<double>(static_cast<int64_t>(marker.AsDouble())))
        return std::to_string(marker.AsDouble());
    if (marker.type() == Variant::Type::Double)
        return std::to_string(static_cast<int64_t>(marker.AsDouble()));
    return std::to_string(marker.AsInt64());
}

std::string marker_literal(const Variant& marker) {
    if (marker.type() != Variant::Type::String) return marker_text(marker);
    std::string out = "'";
    for (char c : marker.AsString())
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

} // namespace kv
