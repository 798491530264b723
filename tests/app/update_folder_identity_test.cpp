// An UPDATE_ADRES that reaches the site by another name: a symbolic link, a
// path through a link, a bind mount. Each is refused at start-up (the default
// folder and the notice) or, when it became such a name after start-up, just
// before the reset; and the package step's reset then leaves the database,
// kvayarlar.ini, the reports and the programs where they were.
#include "updater_fixture.h"

#include "app/update_folder.h"
#include "rtl/exception.h"
#include "support/mount_namespace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <unistd.h>

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using R = UpdateFolderRefusal;

// The site lies in <base>/site, the working directory; <base> holds the
// links and folders the cases name, and the database in <base>/db/Data.
struct Site {
    fs::path base, site;
    Site() : base(fs::temp_directory_path() / ("kv-ident-" + std::to_string(::getpid()))) {
        site = base / "site";
        fs::remove_all(base);
        fs::create_directories(site);
        for (const char* f : {"kuvento.exe", "Rapor/rapor1.fr3", "update/old.rar"})
            write(site / f);
        write(base / "db" / "Data" / "KUVENTO.FDB");
        fs::create_directories(base / "elsewhere");
        write(base / "elsewhere" / "old.rar");
        fs::create_directory_symlink(site, base / "to-site");
        fs::create_directory_symlink(base, base / "alias");
        fs::create_directory_symlink(base / "db", base / "to-db");
        fs::current_path(site);
    }
    ~Site() {
        fs::current_path(base.parent_path());
        std::error_code ec;
        fs::remove_all(base, ec);
    }
    static void write(const fs::path& p) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
    }
    void settings(const std::string& update_adres) const {
        std::ofstream(site / "kvayarlar.ini")
            << "[BAGLANTI]\nDB_ADRES=" << (base / "db" / "Data" / "KUVENTO.FDB").string()
            << "\nRAPOR_ADRES=Rapor\nUPDATE_ADRES=" << update_adres << "\n";
    }
    void expect_intact(const std::string& what) const {
        for (const fs::path& p : {site / "kvayarlar.ini", site / "kuvento.exe", site / "Rapor" / "rapor1.fr3",
                                  base / "db" / "Data" / "KUVENTO.FDB"})
            EXPECT_TRUE(fs::exists(p)) << what << ": " << p;
    }
};

// The package step as far as the archive library, which these sites lack:
// the reset runs on the folder it chose, then the step ends with an error.
void run_package_step(Updater& u) {
    EXPECT_THROW(u.form->Button5Click(nullptr), Exception);
}

struct Case {
    const char* name;
    std::string update_adres; // "{base}" is the folder holding the site
    std::optional<R> refused;
};

std::string expand(const Site& s, const std::string& value) {
    const size_t at = value.find("{base}");
    return at == std::string::npos ? value : value.substr(0, at) + s.base.string() + value.substr(at + 6);
}

void expect_case(const Site& s, const Case& c) {
    const std::string value = expand(s, c.update_adres);
    s.settings(value);
    TForm1Config config = test_config();
    config.ArchiveLibrary = "no-such-archive-library";
    Updater u(config);
    const std::string default_folder = os::current_directory() + "\\update\\";
    const auto& refused = u.form->UpdateFolderRefused();
    ASSERT_EQ(refused.has_value(), c.refused.has_value()) << c.name;
    if (c.refused) {
        EXPECT_EQ(refused->why, *c.refused) << c.name;
        EXPECT_EQ(u.form->Settings().UpdateFolder, default_folder) << c.name;
        ASSERT_EQ(u.backend.boxes.size(), 1u) << c.name;
        EXPECT_EQ(u.backend.boxes[0].text, refusal_notice(value, *c.refused, default_folder)) << c.name;
    } else {
        EXPECT_EQ(u.form->Settings().UpdateFolder, value) << c.name;
        EXPECT_TRUE(u.backend.boxes.empty()) << c.name;
    }
    run_package_step(u);
    s.expect_intact(c.name);
    // The folder used was emptied and made again.
    const fs::path used =
        c.refused ? s.site / "update" : fs::path(os::native_path(u.form->Settings().UpdateFolder));
    EXPECT_TRUE(fs::is_directory(used)) << c.name;
    EXPECT_FALSE(fs::exists(used / "old.rar")) << c.name;
}

TEST(UpdateFolderIdentity, LinksAndSecondNamesAreRefusedAndTheSiteStays) {
    const Case cases[] = {
        {"a symbolic link to the program folder", "{base}/to-site", R::IsLink},
        {"the program folder through a link to its parent", "{base}/alias/site", R::ProgramFolder},
        {"the program folder's parent through a link", "{base}/alias", R::IsLink},
        {"a folder above the program folder through a link", "{base}/alias/.", R::HoldsProgramFolder},
        {"a link to a folder holding the database folder", "{base}/to-db", R::IsLink},
        {"the database folder through a link", "{base}/alias/db/Data", R::HoldsDatabase},
        {"a folder holding the database folder through a link", "{base}/alias/db", R::HoldsDatabase},
        {"the report folder through a link", "{base}/alias/site/Rapor", R::HoldsReports},
        {"the program folder by a path the kernel resolves through a link", "{base}/to-site/Rapor/..",
         R::ProgramFolder},
        {"a plain folder elsewhere", "{base}/elsewhere", std::nullopt},
        {"a plain folder elsewhere through a link", "{base}/alias/elsewhere", std::nullopt},
        {"the default folder", "update", std::nullopt},
        {"a folder not made yet", "{base}/new", std::nullopt},
    };
    for (const Case& c : cases) {
        Site s;
        expect_case(s, c);
    }
}

// Accepted at start-up, a link by the time the package step starts: the
// reset uses the default folder and tells the operator.
TEST(UpdateFolderIdentity, AFolderThatBecameALinkIsRefusedBeforeTheReset) {
    Site s;
    const fs::path later = s.base / "later";
    fs::create_directories(later);
    s.settings(later.string());
    TForm1Config config = test_config();
    config.ArchiveLibrary = "no-such-archive-library";
    Updater u(config);
    ASSERT_EQ(u.form->Settings().UpdateFolder, later.string());
    fs::remove(later);
    fs::create_directory_symlink(s.site, later);
    run_package_step(u);
    s.expect_intact("replaced by a link");
    const std::string default_folder = os::current_directory() + "\\update\\";
    ASSERT_EQ(u.backend.boxes.size(), 1u);
    EXPECT_EQ(u.backend.boxes[0].text, refusal_notice(later.string(), R::IsLink, default_folder));
    EXPECT_FALSE(fs::exists(s.site / "update" / "old.rar"));
}

// When the default folder itself leads elsewhere there is nothing safe to
// empty: the step ends with its error before it touches a file.
TEST(UpdateFolderIdentity, ADefaultFolderThatIsALinkStopsTheStep) {
    Site s;
    fs::remove_all(s.site / "update");
    fs::create_directory_symlink(s.base, s.site / "update");
    s.settings("");
    TForm1Config config = test_config();
    config.ArchiveLibrary = "no-such-archive-library";
    Updater u(config);
    try {
        u.form->Button5Click(nullptr);
        ADD_FAILURE() << "the step went on";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Güncelleme klasörü boşaltılamaz: " + os::current_directory() + "\\update\\ " +
                                   refusal_reason_turkish(R::IsLink));
    }
    s.expect_intact("default folder a link");
    EXPECT_TRUE(fs::exists(s.base / "elsewhere" / "old.rar"));
}

// A bind mount of the program folder, in a mount namespace of this test's
// own (a child process), so nothing the machine sees is mounted.
TEST(UpdateFolderIdentity, ABindMountOfTheProgramFolderIsRefused) {
    const NamespaceRun run = run_in_mount_namespace([] {
        Site s;
        fs::create_directories(s.base / "bound");
        if (::mount(s.site.c_str(), (s.base / "bound").c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
        expect_case(s, {"a bind mount of the program folder", "{base}/bound", R::IsLink});
        expect_case(
            s, {"a folder inside a bind mount of the program folder", "{base}/bound/Rapor", R::HoldsReports});
        ::umount((s.base / "bound").c_str());
        return true;
    });
    if (run == NamespaceRun::NoNamespace) GTEST_SKIP() << "no mount namespace of our own may be made here";
    EXPECT_EQ(run, NamespaceRun::Passed) << "see the child's failures above";
}

} // namespace
} // namespace kv::test
