// kvtool settings as a support technician runs it: in a site folder it prints
// the six settings as start-up reads them; without kvayarlar.ini it prints the
// start-up notice on standard error and fails.
#include "support/command.h"
#include "updater_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kv::test {
namespace {

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun kvtool_settings(const SiteFolder& site) {
    const std::string err = (site.path() / "err.txt").string();
    const CommandRun run =
        run_command("\"" + std::string(KV_BIN_DIR) + "/kvtool\" settings 2>\"" + err + "\"");
    std::stringstream text;
    text << std::ifstream(err).rdbuf();
    return {run.status, run.out, text.str()};
}

TEST(KvtoolSettings, PrintsTheSixSettingsOrTheNotice) {
    SiteFolder site;
    ToolRun missing = kvtool_settings(site);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "kvtool settings: Ayar dosyası okunamadı.\n");

    site.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=\"localhost\"\nUYGULAMA_ADRES=C:\\Kuvento\n"
                                "DB_ADRES=C:\\Kuvento\\DATA.FDB\nRAPOR_ADRES=R\nUPDATE_ADRES=D:\\upd\n");
    ToolRun found = kvtool_settings(site);
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.out,
              "{\"UpdateBaseUrl\":\"http://" KV_PACKAGE_HOST "/2027/\",\"ServerAddress\":\"localhost\","
              "\"ApplicationPath\":\"C:\\\\Kuvento\",\"DatabasePath\":\"C:\\\\Kuvento\\\\DATA.FDB\","
              "\"ReportPath\":\"R\",\"UpdateFolder\":\"D:\\\\upd\"}\n");
    // A refused UPDATE_ADRES: the notice on standard error, the default folder and why.
    site.write("kvayarlar.ini", "[BAGLANTI]\nRAPOR_ADRES=R\nUPDATE_ADRES=.\n");
    ToolRun refused = kvtool_settings(site);
    EXPECT_EQ(refused.status, 0) << refused.err;
    const std::string folder = os::current_directory() + "\\update\\";
    EXPECT_EQ(refused.err, "kvtool settings: UPDATE_ADRES kullanılmadı: . program klasörünün kendisi. "
                           "Güncelleme klasörü: " +
                               folder + "\n");
    EXPECT_NE(refused.out.find("\"UpdateFolderRefused\":{\"UPDATE_ADRES\":\".\",\"reason\":\"is the program "
                               "folder\"}"),
              std::string::npos)
        << refused.out;
}

} // namespace
} // namespace kv::test
