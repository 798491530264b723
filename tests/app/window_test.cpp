// The window's logic on the scripted backend: start-up with and without the
// settings file, the access lock, the error box and the title, and what the
// operator can do while a step runs.
#include "updater_fixture.h"

#include "app/update_folder.h"
#include "platform/files.h"
#include "rtl/exception.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using window::BoxIcon;

TEST(StartUp, WithoutSettingsFileShowsTheNoticeAndEnds) {
    SiteFolder site;
    Updater u;
    ASSERT_EQ(u.backend.boxes.size(), 1u);
    EXPECT_EQ(u.backend.boxes[0].text, "Ayar dosyası okunamadı.");
    EXPECT_EQ(u.backend.boxes[0].caption, "Kvupdate");
    EXPECT_EQ(u.backend.boxes[0].icon, BoxIcon::None);
    EXPECT_TRUE(fs::is_directory(site.path() / "update"));
    EXPECT_FALSE(fs::exists(site.path() / "kvayarlar.ini"));
    EXPECT_FALSE(u.form->Button4.Enabled());
    EXPECT_FALSE(u.form->Panel1.Visible());
    EXPECT_EQ(u.form->Label1.Caption(), "Label1");
    EXPECT_EQ(u.form->Label2.Caption(), "Label2");
    EXPECT_EQ(u.form->Label3.Caption(), "Label3");
    // The end request is taken once the event loop runs: Run returns.
    EXPECT_TRUE(u.app.Terminated());
    u.app.Run();
    EXPECT_TRUE(u.backend.window_shown());
}

TEST(StartUp, ReadsTheSettingsAndOpensLocked) {
    SiteFolder site;
    site.write("kvayarlar.ini", "[baglanti]\r\n"
                                "sunucu_ip = \"localhost\"  \r\n"
                                "UYGULAMA_ADRES=  C:\\Kuvento\r\n"
                                "DB_ADRES='C:\\Kuvento\\DATA.FDB'\r\n"
                                "RAPOR_ADRES=C:\\Rapor\r\n"
                                "UPDATE_ADRES=D:\\guncel\r\n");
    Updater u;
    EXPECT_TRUE(u.backend.boxes.empty());
    EXPECT_FALSE(u.app.Terminated());
    EXPECT_EQ(u.form->Label1.Caption(), "http://127.0.0.1:9/2027/");
    EXPECT_EQ(u.form->Label2.Caption(), "localhost");
    EXPECT_EQ(u.form->Label3.Caption(), "C:\\Kuvento");
    const SiteSettings& s = u.form->Settings();
    EXPECT_EQ(s.DatabasePath, "C:\\Kuvento\\DATA.FDB");
    EXPECT_EQ(s.ReportPath, "C:\\Rapor");
    EXPECT_EQ(s.UpdateFolder, "D:\\guncel");
    // The default folder is created before the settings are read.
    EXPECT_TRUE(fs::is_directory(site.path() / "update"));
    EXPECT_FALSE(u.form->Panel1.Visible());
    EXPECT_TRUE(u.form->Button4.Enabled());
    EXPECT_EQ(u.backend.focused(), &u.form->Edit1);
}

TEST(StartUp, EmptyUpdateFolderKeepsTheDefault) {
    SiteFolder site;
    site.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=10.0.0.5\nUPDATE_ADRES=\n");
    Updater u;
    EXPECT_EQ(u.form->Settings().UpdateFolder, os::current_directory() + "\\update\\");
    EXPECT_EQ(u.form->Settings().ServerAddress, "10.0.0.5");
}

TEST(StartUp, RootAsUpdateFolderKeepsTheDefault) {
    SiteFolder site;
    site.write("kvayarlar.ini", "[BAGLANTI]\nUPDATE_ADRES=C:\\\n");
    Updater u;
    EXPECT_EQ(u.form->Settings().UpdateFolder, os::current_directory() + "\\update\\");
}

TEST(StartUp, DriveRootNames) {
    const std::pair<const char*, bool> cases[] = {
        {"", true},
        {"\\", true},
        {"/", true},
        {"C:", true},
        {"C:\\", true},
        {"C:\\\\", true},
        {"\\\\srv\\share", true},
        {"\\\\srv\\share\\", true},
        {"C:\\update", false},
        {"\\\\srv\\share\\upd", false},
        {"/srv/update/", false},
        {"update", false},
    };
    for (auto& [name, root] : cases)
        EXPECT_EQ(names_drive_root(name), root) << name;
}

struct FolderCase {
    const char* candidate;
    bool may_be_emptied;
};

void expect_guard(const char* program, const char* database, const char* reports, bool windows_names,
                  std::initializer_list<FolderCase> cases) {
    for (const FolderCase& c : cases)
        EXPECT_EQ(update_folder_may_be_emptied(program, c.candidate, database, reports, windows_names),
                  c.may_be_emptied)
            << program << " / " << c.candidate;
}

TEST(UpdateFolderGuard, WindowsNames) {
    expect_guard("C:\\Kuvento", "C:\\Kuvento\\Data\\KUVENTO.FDB", "D:\\Rapor", true,
                 {{"", false},
                  {".", false},
                  {".\\", false},
                  {"C:\\", false},
                  {"C:\\Kuvento", false},
                  {"c:\\KUVENTO\\", false},
                  {"C:/Kuvento/.", false},
                  {"C:\\\\Kuvento\\\\", false},
                  {"C:\\Kuvento.", false},
                  {"C:\\Kuvento\\update\\..", false},
                  {"C:\\Kuvento\\..", false},
                  {"update\\..\\..", false},
                  {"\\\\?\\C:\\Kuvento", false},
                  {"\\\\?\\c:\\kuvento\\update", true},
                  {"\\Kuvento", false},
                  {"C:Data", false},
                  {"C:\\Kuvento\\Data", false},
                  {"C:\\kuvento\\data\\", false},
                  {"D:\\Rapor", false},
                  {"d:\\rapor\\..", false},
                  {"C:\\Kuvento\\Data\\eski", true},
                  {"D:\\Rapor2", true},
                  {"update", true},
                  {"C:upd", true},
                  {"C:\\Kuvento\\update\\", true},
                  {"C:\\Kuvento\\update\\..\\yeni", true},
                  {"D:\\guncel", true}});
    expect_guard("\\\\SRV\\Paylaşım\\Şube", "", "", true,
                 {{"\\\\srv\\PAYLAŞIM", false},
                  {"\\\\?\\UNC\\srv\\paylaşım\\şUBE", false},
                  {"\\\\srv\\paylaşım\\ŞUBE\\update", true},
                  {"\\\\srv\\paylaşım\\diğer", true},
                  {"\\\\srv2\\paylaşım\\şube", true}});
}

TEST(UpdateFolderGuard, LinuxNames) {
    expect_guard("/srv/kuvento", "/srv/kuvento/data/kuvento.fdb", "/srv/rapor", false,
                 {{".", false},
                  {"..", false},
                  {"/", false},
                  {"/srv", false},
                  {"/srv/kuvento/../kuvento/", false},
                  {"//srv//kuvento//", false},
                  {"\\srv\\kuvento", false},
                  {"/srv/kuvento/data", false},
                  {"/srv/rapor/", false},
                  {"/srv/Kuvento", true},
                  {"/srv/kuvento/update", true},
                  {"update", true},
                  {"../guncel", true}});
}

// A mistyped UPDATE_ADRES keeps the default folder, and a package step run
// then leaves the site's files where they were.
TEST(StartUp, UpdateFolderHoldingTheSiteKeepsTheDefault) {
    for (const char* value : {".", "Data", "Rapor\\..", "{cwd}", "{cwd}\\.\\", "{cwd}/Data"}) {
        SiteFolder site;
        std::string update = value;
        if (update.rfind("{cwd}", 0) == 0) update = os::current_directory() + update.substr(5);
        site.write("Data/KUVENTO.FDB");
        site.write("Rapor/rapor1.fr3");
        site.write("kvayarlar.ini", "[BAGLANTI]\nDB_ADRES=" + os::current_directory() +
                                        "\\Data\\KUVENTO.FDB\nRAPOR_ADRES=Rapor\nUPDATE_ADRES=" + update +
                                        "\n");
        TForm1Config config = test_config();
        config.ArchiveLibrary = "no-such-archive-library";
        Updater u(config);
        EXPECT_EQ(u.form->Settings().UpdateFolder, os::current_directory() + "\\update\\") << value;
        EXPECT_THROW(u.form->Button5Click(nullptr), Exception);
        EXPECT_TRUE(fs::exists(site.path() / "kvayarlar.ini")) << value;
        EXPECT_TRUE(fs::exists(site.path() / "Data" / "KUVENTO.FDB")) << value;
        EXPECT_TRUE(fs::exists(site.path() / "Rapor" / "rapor1.fr3")) << value;
    }
}

struct LockCase {
    const char* typed;
    bool press_enter; // else click "Giriş"
    bool unlocks;
};

class AccessLock : public ::testing::TestWithParam<LockCase> {};

TEST_P(AccessLock, OnlyTheExactCodeRevealsThePanel) {
    const LockCase& c = GetParam();
    SiteFolder site;
    site.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=localhost\n");
    Updater u;
    u.backend.type(c.typed);
    if (c.press_enter)
        u.backend.press_enter();
    else
        ASSERT_TRUE(u.backend.click("Button1"));
    EXPECT_EQ(u.form->Panel1.Visible(), c.unlocks);
    EXPECT_EQ(u.form->Edit1.Text(), c.unlocks ? "" : c.typed);
    EXPECT_TRUE(u.backend.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, AccessLock,
                         ::testing::Values(LockCase{"7", true, true}, LockCase{"7", false, true},
                                           LockCase{"8", true, false}, LockCase{"", true, false},
                                           LockCase{"", false, false}, LockCase{"77", true, false},
                                           LockCase{"7 ", false, false}, LockCase{" 7", true, false}));

TEST(AccessLockState, UnlockedOnlyStartButtonEnabledAndWrongCodeLocksAgain) {
    SiteFolder site;
    site.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=localhost\n");
    Updater u;
    u.unlock();
    ASSERT_TRUE(u.form->Panel1.Showing());
    EXPECT_TRUE(u.form->Button4.Enabled());
    EXPECT_FALSE(u.form->Button3.Enabled());
    EXPECT_FALSE(u.form->Button5.Enabled());
    EXPECT_FALSE(u.backend.click("Button3"));
    EXPECT_FALSE(u.backend.click("Button5"));
    u.backend.type("x");
    u.backend.press_enter();
    EXPECT_FALSE(u.form->Panel1.Visible());
    EXPECT_EQ(u.form->Edit1.Text(), "x");
    // Hidden with the panel: a step button cannot be reached.
    EXPECT_FALSE(u.backend.click("Button4"));
}

struct BoxCase {
    const char* message;
    const char* shown;
};

class ErrorBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(ErrorBox, FullStopRule) {
    SiteFolder site;
    Updater u;
    u.backend.boxes.clear();
    const std::string message = GetParam().message;
    u.form->run_handler([&] { throw EFOpenError(message); });
    ASSERT_EQ(u.backend.boxes.size(), 1u);
    EXPECT_EQ(u.backend.boxes[0].text, GetParam().shown);
    EXPECT_EQ(u.backend.boxes[0].caption, "Kvupdate");
    EXPECT_EQ(u.backend.boxes[0].icon, BoxIcon::Error);
}

INSTANTIATE_TEST_SUITE_P(Messages, ErrorBox,
                         ::testing::Values(BoxCase{"Disk full", "Disk full."}, BoxCase{"Done.", "Done."},
                                           BoxCase{"Stop!", "Stop!"}, BoxCase{"code 42", "code 42."},
                                           BoxCase{"reason:", "reason:."}, BoxCase{"(x)", "(x)"},
                                           BoxCase{"ends with a blank ", "ends with a blank "},
                                           BoxCase{"bağlantı", "bağlantı."},
                                           BoxCase{"ends in a dash -", "ends in a dash -"},
                                           BoxCase{"a,", "a,"}, BoxCase{"a/b", "a/b."}, BoxCase{"", ""}));

TEST(ErrorBoxHandling, AbortIsSilentAndWrappedErrorsShowTheInnermostMessage) {
    SiteFolder site;
    Updater u;
    u.backend.boxes.clear();
    u.form->run_handler([&] { u.form->Abort(); });
    EXPECT_TRUE(u.backend.boxes.empty());
    u.form->run_handler([] {
        try {
            throw Exception("Connection refused");
        } catch (...) {
            std::throw_with_nested(Exception("Download failed"));
        }
    });
    u.form->run_handler([] {
        try {
            throw Exception("");
        } catch (...) {
            std::throw_with_nested(Exception("Outer"));
        }
    });
    ASSERT_EQ(u.backend.boxes.size(), 2u);
    EXPECT_EQ(u.backend.boxes[0].text, "Connection refused.");
    EXPECT_EQ(u.backend.boxes[1].text, "Outer.");
}

TEST(Title, FromTheProgramFileName) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Kuvento\\KVUpdate.exe", "Kvupdate"},
        {"/opt/kv/kvupdate", "kvupdate"},
        {"D:\\x.y\\My.Tool.exe", "My"},
        {"ÇALIŞ.EXE", "Çaliş"},
        {"kvUPDATE", "kvupdate"},
    };
    for (auto& [path, title] : cases)
        EXPECT_EQ(application_title(path), title) << path;
    window::ScriptedBackend backend("C:\\Programs\\GUNCELLE.exe");
    TApplication app(backend);
    app.Initialize();
    EXPECT_EQ(app.Title(), "Guncelle");
}

// While a step started by the operator runs (here held in the notice of the
// update folder reset), clicks on step buttons are ignored and closing the
// window only asks for the end; the step runs on.
TEST(RunningStep, StepClicksIgnoredAndCloseTakesEffectAfterTheStep) {
    SiteFolder site;
    site.write("kvayarlar.ini", "[BAGLANTI]\nSUNUCU_IP=10.0.0.5\n");
    site.write("update/dll/fbclient.dll");
    ASSERT_TRUE(os::set_read_only((site.path() / "update" / "dll" / "fbclient.dll").string(), true));
    Updater u;
    u.unlock();
    u.form->Button3.SetEnabled(true);
    u.form->Button5.SetEnabled(true);
    bool acted = false;
    u.backend.on_box = [&](const window::BoxRecord&) {
        if (acted) return;
        acted = true;
        EXPECT_TRUE(u.form->StepRunning());
        EXPECT_TRUE(u.backend.click("Button5"));
        EXPECT_TRUE(u.backend.click("Button3"));
        u.backend.close_window();
        EXPECT_TRUE(u.app.Terminated());
    };
    ASSERT_TRUE(u.backend.click("Button5"));
    auto reset_notices = [&] {
        int n = 0;
        for (auto& b : u.backend.boxes)
            n += b.text.rfind("CANT DELETE EMPTY DIRECTORY:", 0) == 0;
        return n;
    };
    // The update folder and its "dll" folder: one run, not three.
    EXPECT_EQ(reset_notices(), 2);
    EXPECT_FALSE(u.form->StepRunning());
    // The click after the step ends is taken again.
    ASSERT_TRUE(u.backend.click("Button5"));
    EXPECT_EQ(reset_notices(), 4);
    u.app.Run(); // returns: the end was asked for during the step
}

} // namespace
} // namespace kv::test
