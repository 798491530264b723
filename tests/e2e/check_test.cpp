// kvtool check against a site as the end-to-end tests build it: the Firebird
// network server with the site's database, a private nginx with the 2027
// release, the product's programs running from the site folder. A healthy
// site passes every check; each spoiled one fails the check that foresees
// the step it would break, with the reason, and the tool's exit status says so.
#include "check_report.h"
#include "db/site_db.h"
#include "e2e_site.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace kv::test::e2e {

namespace fs = std::filesystem;
using Json = nlohmann::json;

TEST(Check, HealthySitePasses) {
    Release release;
    PackageServer server(release);
    Site site("check-healthy");
    site.write_settings({});
    site.start_programs();
    const std::vector<std::string> before = folder_listing(site.dir());

    const CheckRun run = run_check(site.dir(), KV_E2E_KVTOOL);
    EXPECT_EQ(folder_listing(site.dir()), before) << "the check changes nothing in the program folder";

    ASSERT_TRUE(run.report.is_object()) << run.output;
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(failed_checks(run.report), std::vector<std::string>{}) << run.output;
    EXPECT_TRUE(run.report["passed"].get<bool>());
    const Json& db = check_named(run.report, "database");
    EXPECT_EQ(db["details"]["year marker"], "2026");
    EXPECT_EQ(db["details"]["upgrade"], "would run");
    EXPECT_EQ(db["details"]["other attachments"], Json::array());
    const Json& lacks = db["details"]["schema: 2027 lacks"];
    EXPECT_EQ(lacks.size(), 17u) << lacks.dump() << ": every object the upgrade makes, before it";
    EXPECT_NE(std::find(lacks.begin(), lacks.end(), "table EF_SERI missing"), lacks.end()) << lacks.dump();
    EXPECT_EQ(check_named(run.report, "package server")["details"]["releases"],
              "not verified: this build carries no release key");
    const Json& packages = check_named(run.report, "package server")["packages"];
    ASSERT_EQ(packages.size(), 6u) << "the logo and the five packages of a server with printing";
    EXPECT_EQ(packages[1]["file"], "kuvento.rar");
    EXPECT_EQ(packages[1]["files"], Json::array({"kuvento.exe"}));
    EXPECT_EQ(packages[1]["bytes"], fs::file_size(server.root() / "2027" / "kuvento.rar"));
    EXPECT_EQ(packages[3]["files"], Json::array({"Fatura/efatura.fr3", "satis.fr3"}));
    EXPECT_EQ(packages[5]["files"].size(), kLibraries.size());
    EXPECT_EQ(check_named(run.report, "programs")["details"]["running"].size(), kStoppedPrograms.size());
}

// Each spoiled site fails exactly the check that foresees what would break.
TEST(Check, SpoiledSitesFailTheirCheck) {
    struct Case {
        const char* name;
        std::function<void(Site&, PackageServer*, const Release&, std::unique_ptr<TDbConnection>&)> spoil;
        const char* failing;
        std::string reason; // a part of the failing check's reason
        bool server = true; // whether the package server runs
    };
    std::unique_ptr<TDbTransaction> attachment_transaction;
    const Case cases[] = {
        {"a package missing on the server",
         [](Site&, PackageServer* s, const Release&, auto&) { s->remove("telvano.rar"); }, "package server",
         "telvano.rar: HTTP/1.1 404 Not Found"},
        {"a package that lacks an expected file",
         [](Site&, PackageServer* s, const Release& r, auto&) {
             std::vector<Rar5Item> items = r.packages.at("dll.rar");
             std::erase_if(items, [](const Rar5Item& i) { return i.path == "midas.dll"; });
             s->put("dll.rar", rar5_archive(items));
         },
         "package server", "dll.rar lacks midas.dll"},
        {"a second attachment to the database",
         [&](Site& site, PackageServer*, const Release&, std::unique_ptr<TDbConnection>& c) {
             c = std::make_unique<TDbConnection>("other");
             attachment_transaction = std::make_unique<TDbTransaction>("other_t");
             configure(*c, *attachment_transaction, Attach::Server, site.db().Path());
             c->Open();
         },
         "database", "1 other attachment(s) hold the database"},
        {"a marker that says 2027 without the 2027 schema",
         [](Site& site, PackageServer*, const Release&, auto&) {
             site.db().Isql("update firmabilgi set yil = 2027;");
         },
         "database", "the marker says 2027 but the 2027 schema lacks 17 object(s)"},
        {"a read-only program file",
         [](Site& site, PackageServer*, const Release&, auto&) {
             write_file((site.dir() / "gds32.dll").string(), "old library");
             os::set_read_only((site.dir() / "gds32.dll").string(), true);
         },
         "program folder", "gds32.dll: read-only"},
        {"an unreachable package server", [](Site&, PackageServer*, const Release&, auto&) {},
         "package server", "dll.rar: Socket Error # 10061", false},
    };
    Release release;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<PackageServer> server = c.server ? std::make_unique<PackageServer>(release) : nullptr;
        Site site(std::string("check-") + (c.server ? "spoiled" : "offline"));
        site.write_settings({});
        std::unique_ptr<TDbConnection> other;
        c.spoil(site, server.get(), release, other);

        const CheckRun run = run_check(site.dir(), KV_E2E_KVTOOL);

        ASSERT_TRUE(run.report.is_object()) << run.output;
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(run.report["passed"].get<bool>());
        EXPECT_EQ(failed_checks(run.report), std::vector<std::string>{c.failing}) << run.output;
        const std::string reason = check_named(run.report, c.failing)["reason"];
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        if (other) other->Close();
        if (fs::exists(site.dir() / "gds32.dll"))
            os::set_read_only((site.dir() / "gds32.dll").string(), false);
    }
}

} // namespace kv::test::e2e
