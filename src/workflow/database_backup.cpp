// The backup through the services API. See database_backup.h.
#include "workflow/database_backup.h"

#include "db/db_errors.h"
#include "db/fb_service.h"
#include "workflow/site_database.h"

namespace kv {

std::string backup_file_name(const std::string& database, const Variant& marker) {
    // A text marker is the site's data: only letters, digits, "-" and "." of it go into a file name.
    std::string text = marker_text(marker);
    for (char& c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
              c == '.'))
            c = '_';
    return database + "." + text + ".fbk";
}

void back_up_database(TDbConnection& c, const std::string& file,
                      const std::function<void(const std::string&)>& on_line) {
    c.Wrap([&] {
        TFbService service(c.Provider(), c.Server(), kSiteDatabaseUser, kSiteDatabasePassword);
        service.StartBackup(c.Database(), file);
        // Older engines report a failed backup only in its output.
        std::string failure;
        for (std::string line; service.NextLine(line);) {
            if (line.find("ERROR:") != std::string::npos) failure += (failure.empty() ? "" : "\r") + line;
            on_line(line);
        }
        if (!failure.empty()) throw EFbError(failure);
    });
}

} // namespace kv
