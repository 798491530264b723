// The year marker as the database step writes it back and names its backup
// by: whatever the site's column holds, the marker is put back as it was and
// the backup file stays beside the database.
#include "workflow/database_backup.h"
#include "workflow/site_database.h"

#include <gtest/gtest.h>

namespace kv {

TEST(YearMarker, WrittenBackAndNamingTheBackup) {
    struct Case {
        Variant marker;
        const char* literal;
        const char* file;
    };
    const Case cases[] = {
        {Variant::Integer(2026), "2026", "C:\\Kuvento\\KUVENTO.FDB.2026.fbk"},
        {Variant::SmallInt(2025), "2025", "C:\\Kuvento\\KUVENTO.FDB.2025.fbk"},
        {Variant(), "null", "C:\\Kuvento\\KUVENTO.FDB.null.fbk"},
        {Variant::Double(2026.0), "2026", "C:\\Kuvento\\KUVENTO.FDB.2026.fbk"},
        {Variant::String("2026"), "'2026'", "C:\\Kuvento\\KUVENTO.FDB.2026.fbk"},
        {Variant::String("O'26"), "'O''26'", "C:\\Kuvento\\KUVENTO.FDB.O_26.fbk"},
        {Variant::String("..\\..\\x/y"), "'..\\..\\x/y'", "C:\\Kuvento\\KUVENTO.FDB..._.._x_y.fbk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.literal);
        EXPECT_EQ(marker_literal(c.marker), c.literal);
        EXPECT_EQ(backup_file_name("C:\\Kuvento\\KUVENTO.FDB", c.marker), c.file);
    }
}

} // namespace kv
