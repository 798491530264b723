// "Güncelleme Başla" in a real site folder: copies of the stand-in program
// run under the product's names, the seven settings files lie in the folder
// (one of them read-only), and the step runs from the operator's click.
#include "updater_fixture.h"

#include "platform/files.h"
#include "platform/processes.h"
#include "platform/program_start.h"
#include "support/fake_programs.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// The chain runs on into the later steps: point them at peers that answer at
// once (a missing database on loopback, a package port nobody listens on).
const char* const kSiteSettings = "[BAGLANTI]\nSUNUCU_IP=127.0.0.1\nDB_ADRES=missing.fdb\n";

const char* const kSettingsFiles[] = {"baglanti.txt", "instagram.txt", "inpos.txt", "kagit.txt",
                                      "menu.txt",     "saat.txt",      "yazici.txt"};

TEST(StartUpdate, StopsTheProgramsDeletesTheFilesAndHandsOver) {
    SiteFolder site;
    site.write("kvayarlar.ini", kSiteSettings);
    std::vector<std::pair<std::string, uint32_t>> running;
    for (const char* name : {"kuvento.exe", "telvano.exe", "kvbck.exe", "dorvika.exe"}) {
        ASSERT_TRUE(os::start_program(utf8(install_fake_program(site.path(), name))));
        ASSERT_TRUE(wait_until([&] { return started_ids(site.path() / "programs.log", name).size() == 1; }))
            << name << " did not start";
        running.emplace_back(name, started_ids(site.path() / "programs.log", name)[0]);
    }
    // A program of the product that the step leaves alone.
    ASSERT_TRUE(os::start_program(utf8(install_fake_program(site.path(), "kuventoCMX.exe"))));
    ASSERT_TRUE(
        wait_until([&] { return started_ids(site.path() / "programs.log", "kuventoCMX.exe").size() == 1; }));
    const uint32_t bystander = started_ids(site.path() / "programs.log", "kuventoCMX.exe")[0];
    for (const char* file : kSettingsFiles)
        site.write(file);
    ASSERT_TRUE(os::set_read_only(utf8(site.path() / "menu.txt"), true));

    Updater u;
    u.unlock();
    ASSERT_TRUE(u.backend.click("Button4"));

    for (auto& [name, id] : running)
        EXPECT_TRUE(wait_until([&, id = id, name = name] { return !process_running(id, name); }))
            << name << " still runs";
    EXPECT_TRUE(process_running(bystander, "kuventoCMX.exe"));
    os::terminate_process(bystander);
    for (const char* file : kSettingsFiles)
        EXPECT_EQ(fs::exists(site.path() / file), std::string(file) == "menu.txt") << file;
    EXPECT_FALSE(u.form->Button4.Enabled());
    EXPECT_TRUE(u.form->Button3.Enabled());
    // Enabled by the database step, which the hand-over ran without a click.
    EXPECT_TRUE(u.form->Button5.Enabled());
}

TEST(StartUpdate, NothingToStopOrDeleteStillHandsOver) {
    SiteFolder site;
    site.write("kvayarlar.ini", kSiteSettings);
    const fs::path other = site.write("notlar.txt");
    Updater u;
    u.unlock();
    ASSERT_TRUE(u.backend.click("Button4"));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(site.path() / "kvayarlar.ini"));
    EXPECT_FALSE(u.form->Button4.Enabled());
    EXPECT_TRUE(u.form->Button3.Enabled());
    EXPECT_TRUE(u.form->Button5.Enabled());
}

} // namespace
} // namespace kv::test
