// What start-up does with a settings file that is no ordinary small file (a
// link to a device, a pipe, a huge file): the notice for an unreadable file,
// and nothing read. And a usable settings file is read once, not per key.
// Linux: devices, pipes and inotify stand in for what a site could meet.
#include "updater_fixture.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

TEST(SettingsFile, NoOrdinarySmallFileIsUnreadable) {
    struct Case {
        const char* what;
        void (*make)(const fs::path& ini);
    } cases[] = {
        {"link to an endless device", [](const fs::path& ini) { fs::create_symlink("/dev/zero", ini); }},
        {"pipe no one writes to", [](const fs::path& ini) { ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0); }},
        {"folder", [](const fs::path& ini) { fs::create_directory(ini); }},
        {"larger than 1 MiB",
         [](const fs::path& ini) {
             std::ofstream(ini) << "[BAGLANTI]\nSUNUCU_IP=localhost\n" << std::string(1048576, ';') << "\n";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SiteFolder site;
        c.make(site.path() / "kvayarlar.ini");
        Updater u;
        ASSERT_EQ(u.backend.boxes.size(), 1u);
        EXPECT_EQ(u.backend.boxes[0].text, "Ayar dosyası okunamadı.");
        EXPECT_TRUE(u.app.Terminated());
        EXPECT_FALSE(u.form->Button4.Enabled());
        EXPECT_EQ(u.form->Label2.Caption(), "Label2");
    }
}

TEST(SettingsFile, ReadOnceThroughALink) {
    SiteFolder site;
    site.write("ayarlar/gercek.ini",
               "[BAGLANTI]\nSUNUCU_IP=localhost\nDB_ADRES=C:\\DATA.FDB\nRAPOR_ADRES=Rapor\n");
    fs::create_symlink(site.path() / "ayarlar" / "gercek.ini", site.path() / "kvayarlar.ini");
    int watch = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, (site.path() / "ayarlar" / "gercek.ini").c_str(), IN_OPEN), 0);

    Updater u;
    EXPECT_TRUE(u.backend.boxes.empty());
    EXPECT_EQ(u.form->Settings().ServerAddress, "localhost");
    EXPECT_EQ(u.form->Settings().DatabasePath, "C:\\DATA.FDB");
    EXPECT_EQ(u.form->Settings().ReportPath, "Rapor");

    int opens = 0;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;)
        for (ssize_t at = 0; at < n;
             at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(buf + at)->len)
            opens += (reinterpret_cast<inotify_event*>(buf + at)->mask & IN_OPEN) != 0;
    ::close(watch);
    EXPECT_EQ(opens, 1);
}

} // namespace
} // namespace kv::test
