// The signed-release table under Wine: the Windows build, whose signatures
// go through CNG (Wine's bcrypt on GnuTLS), against each spoilt release of
// the table served by a private nginx. Both kvtool.exe release verify and the
// package step (signed_step.exe, with 7-Zip's Windows library) must refuse
// every spoilt release and take the whole one, and the step must refuse an
// older or an expired release. The releases are signed and spoilt here, on
// Linux; only the checking runs under Wine.
#include "release/release_folder.h"
#include "support/package_server.h"
#include "support/signed_release.h"
#include "workflow/put_in_place.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

const fs::path kWinBin = KV_WIN64_BIN_DIR;
const fs::path kSevenZip = KV_WIN64_7Z_DLL;
const std::string kOldProduct = "kuvento 2026";

// A Windows program of the win64 build under 64-bit Wine, in `folder`.
CommandRun wine(const fs::path& folder, const std::string& program_and_args) {
    return run_command("cd " + shell_quoted(folder) + " && env -u LC_ALL LANG=tr_TR.UTF-8 WINEDEBUG=-all " +
                       "/usr/lib/wine/wine64 " + program_and_args + " 2>&1");
}

class WineSignedReleaseBase : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("WINEPREFIX"), nullptr) << "no Wine prefix: run under scripts/test";
        for (const fs::path& p : {kWinBin / "kvtool.exe", kWinBin / "signed_step.exe", kSevenZip})
            ASSERT_TRUE(fs::exists(p)) << p << " is missing: build the win64 preset";
        // The programs the step starts at the end end by themselves.
        ::setenv("KV_FAKE_PROGRAM_LIFETIME_MS", "2000", 1);
    }
};

class WineSignedRelease : public WineSignedReleaseBase,
                          public ::testing::WithParamInterface<SpoiltRelease> {};

// A library given by its folder is loaded from exactly that Windows path: the
// Linux path of the test tree as Wine's Z: drive shows it.
std::string windows_path(const fs::path& file) {
    std::string p = "Z:" + file.string();
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

// A site with the old product and the CMX program (which no package carries).
void make_wine_site(const fs::path& site) {
    write_file(utf8(site / "kvayarlar.ini"), "[BAGLANTI]\nSUNUCU_IP=localhost\n");
    write_file(utf8(site / "kuvento.exe"), kOldProduct);
    fs::copy_file(kWinBin / "kv_fake_program.exe", site / "kuventoCMX.exe");
}

// The package step of the Windows build in `site`, against `packages`, with
// the public key of `key` and 7-Zip's Windows library.
CommandRun signed_step(const fs::path& site, const PackageServer& packages, const ReleaseKey& key) {
    return wine(site, shell_quoted(kWinBin / "signed_step.exe") + " " + packages.host() + " " +
                          shell_quoted(key.public_file()) + " " + shell_quoted(windows_path(kSevenZip)));
}

TEST_P(WineSignedRelease, TheWindowsBuildRefusesEverySpoiltRelease) {
    const SpoiltRelease& c = GetParam();
    const std::string program = read_file(utf8(kWinBin / "kv_fake_program.exe"));
    PackageServer packages(program);
    ReleaseKey key;
    release::sign_folder(utf8(packages.root()), read_file(key.private_file()), {"2027.1", 0, std::nullopt});
    c.spoil(packages.root(), key);

    CommandRun verify =
        wine(packages.root(), shell_quoted(kWinBin / "kvtool.exe") + " release verify --key " +
                                  shell_quoted(key.public_file()) + " http://" + packages.host());
    EXPECT_EQ(verify.status, *c.error ? 1 : 0) << verify.out;
    if (*c.error) {
        EXPECT_NE(verify.out.find(c.error), std::string::npos) << verify.out;
    }

    ScratchDir site("wine-signed-site");
    make_wine_site(site.path());
    CommandRun step = signed_step(site.path(), packages, key);
    ASSERT_EQ(step.status, 0) << step.out;
    if (!*c.error) {
        EXPECT_EQ(step.out, "terminated\n");
        EXPECT_EQ(read_file(utf8(site.path() / "kuvento.exe")), program);
        return;
    }
    EXPECT_NE(step.out.find(c.error), std::string::npos) << step.out;
    EXPECT_EQ(std::count(step.out.begin(), step.out.end(), '\n'), 1) << step.out;
    EXPECT_EQ(read_file(utf8(site.path() / "kuvento.exe")), kOldProduct);
    EXPECT_FALSE(fs::exists(site.path() / "update" / "kuvento.exe"));
}

INSTANTIATE_TEST_SUITE_P(Releases, WineSignedRelease, ::testing::ValuesIn(kSpoiltReleases),
                         [](const auto& info) { return std::string(info.param.name); });

// Releases only go forward on Windows too: a site whose record says 2027.5
// (beside the kept release, or in the program folder where an earlier build
// wrote it) refuses a correctly signed older release and an expired one, with
// both numbers in the error and nothing put in place; a newer one is
// installed and the record beside the kept release follows it.
struct WineReplay {
    const char* name;
    const char* served;
    std::optional<int64_t> valid_until;
    const char* error; // "" installed
    bool record_in_program_folder;
};
class WineReleaseReplay : public WineSignedReleaseBase, public ::testing::WithParamInterface<WineReplay> {};

TEST_P(WineReleaseReplay, OnlyANewerReleaseIsInstalled) {
    const WineReplay& c = GetParam();
    const std::string program = read_file(utf8(kWinBin / "kv_fake_program.exe"));
    PackageServer packages(program);
    ReleaseKey key;
    release::sign_folder(utf8(packages.root()), read_file(key.private_file()),
                         {c.served, 1700000000, c.valid_until});

    ScratchDir site("wine-replay-site");
    make_wine_site(site.path());
    const fs::path record = site.path() / kKeptReleaseFolder / release::kInstalledReleaseFile;
    const fs::path earlier_record = site.path() / release::kInstalledReleaseFile;
    fs::create_directories(record.parent_path());
    write_file(utf8(c.record_in_program_folder ? earlier_record : record), "2027.5\n");
    CommandRun step = signed_step(site.path(), packages, key);
    ASSERT_EQ(step.status, 0) << step.out;
    if (!*c.error) {
        EXPECT_EQ(step.out, "terminated\n");
        EXPECT_EQ(read_file(utf8(site.path() / "kuvento.exe")), program);
        EXPECT_EQ(read_file(utf8(record)), std::string(c.served) + "\n");
        return;
    }
    EXPECT_NE(step.out.find(c.error), std::string::npos) << step.out;
    EXPECT_EQ(std::count(step.out.begin(), step.out.end(), '\n'), 1) << step.out;
    EXPECT_EQ(read_file(utf8(site.path() / "kuvento.exe")), kOldProduct);
    EXPECT_FALSE(fs::exists(site.path() / "update" / "kuvento.rar"));
    EXPECT_EQ(read_file(utf8(c.record_in_program_folder ? earlier_record : record)), "2027.5\n");
}

INSTANTIATE_TEST_SUITE_P(
    Releases, WineReleaseReplay,
    ::testing::Values(
        WineReplay{"Older", "2027.3", std::nullopt,
                   "Sunucudaki sürüm 2027.3, bu sitede kurulu olan 2027.5 sürümünden eski", false},
        WineReplay{"OlderThanTheEarlierRecord", "2027.3", std::nullopt,
                   "Sunucudaki sürüm 2027.3, bu sitede kurulu olan 2027.5 sürümünden eski", true},
        WineReplay{"Expired", "2027.6", 1704067199,
                   "Sunucudaki sürüm 2027.6 en geç 2023-12-31T23:59:59Z tarihine kadar kurulabilirdi", false},
        WineReplay{"Newer", "2027.10", 4102444800, "", false},
        WineReplay{"NewerThanTheEarlierRecord", "2027.10", 4102444800, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kv::test
