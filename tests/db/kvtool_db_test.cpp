// kvtool's database commands as a technician runs them: the marker and a
// query against a real site database, and an error reported on standard
// error with exit status 1, after the command's name exactly as the error
// box would word it.
#include "site_db.h"
#include "support/command.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

using namespace kv::test;

namespace {

struct Result {
    std::string out, err;
    int status;
};

Result kvtool(const std::string& args, const std::string& dir) {
    const std::string err_file = dir + "/stderr.txt";
    const CommandRun run = run_command(std::string(KV_BIN_DIR) + "/kvtool " + args + " 2>" + err_file);
    std::stringstream err;
    err << std::ifstream(err_file, std::ios::binary).rdbuf();
    return {run.out, err.str(), run.status};
}

} // namespace

TEST(KvtoolDb, MarkerQueryAndErrors) {
    ASSERT_TRUE(server_answers()) << server_missing_reason();
    SiteDb db;
    Result marker = kvtool("marker --server localhost " + db.Path(), db.Folder());
    EXPECT_EQ(marker.out, "{\"yil\":2026}\n");
    EXPECT_EQ(marker.status, 0) << marker.err;

    Result query =
        kvtool("query --server localhost " + db.Path() + " 'select firmaadi, yil, null as n from firmabilgi'",
               db.Folder());
    EXPECT_EQ(query.out, "{\"FIRMAADI\":\"Deneme Market\",\"YIL\":2026,\"N\":null}\n");

    db.Isql("delete from firmabilgi;");
    EXPECT_EQ(kvtool("marker " + db.Path(), db.Folder()).out, "{\"yil\":null}\n");

    Result missing = kvtool("marker --server localhost " + db.Folder() + "/nope.fdb", db.Folder());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "kvtool marker: I/O error during \"open\" operation for file \"" + db.Folder() +
                               "/nope.fdb\"\rError while trying to open file\rNo such file or directory\n");
}

// The backup the database step makes, through the service manager of the
// server or of the embedded engine; a file the engine cannot write is an error.
TEST(KvtoolDb, Backup) {
    ASSERT_TRUE(server_answers()) << server_missing_reason();
    SiteDb db;
    for (const char* server : {"--server localhost ", ""}) {
        SCOPED_TRACE(server);
        const std::string file = db.Path() + (*server ? ".server.fbk" : ".local.fbk");
        Result made = kvtool(std::string("backup ") + server + db.Path() + " " + file, db.Folder());
        EXPECT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(made.out.rfind("{\"file\":\"" + file + "\",\"lines\":", 0), 0u) << made.out;
        EXPECT_GT(std::ifstream(file, std::ios::ate | std::ios::binary).tellg(), 0);
    }
    const std::string nowhere = db.Folder() + "/no/such/folder.fbk";
    Result failed = kvtool("backup --server localhost " + db.Path() + " " + nowhere, db.Folder());
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err.rfind("kvtool backup: cannot open backup file " + nowhere, 0), 0u) << failed.err;
}
