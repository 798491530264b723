// kvtool release as the vendor and a technician use it: a folder signed with
// `release sign`, then each spoilt release of the table checked with
// `release verify`, from the folder and through a private nginx.
#include "support/http_nginx.h"
#include "support/rar5_writer.h"
#include "support/signed_release.h"

#include <gtest/gtest.h>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

std::string kvtool(const std::string& args) {
    return std::string(KV_BIN_DIR) + "/kvtool release " + args;
}

// A release laid out as the server has it, in `root`: the logo and the five packages.
void write_release(const fs::path& root) {
    fs::create_directories(root / "2027");
    write_file(utf8(root / "logo1024.png"), "logo");
    for (const char* name : {"kuvento", "telvano", "report", "dorvika", "dll"})
        write_file(utf8(root / "2027" / (std::string(name) + ".rar")),
                   rar5_archive({{std::string(name) + ".exe", std::string(3000, name[0])}}));
}

TEST(KvtoolRelease, SignListsEveryFileAndOpensslChecksTheSignature) {
    ReleaseKey key;
    ScratchDir dir("kvtool-sign");
    write_release(dir.path());
    CommandRun signing = run_command(kvtool("sign --release 2027.10 --valid-until 2099-06-30 --key '" +
                                            key.private_file() + "' '" + dir.str() + "'"));
    ASSERT_EQ(signing.status, 0);
    EXPECT_EQ(signing.out.substr(0, signing.out.find(',')), "{\"release\":\"2027.10\"");
    EXPECT_NE(signing.out.find("\n{\"path\":\"/2027/dll.rar\""), std::string::npos);
    EXPECT_EQ(std::count(signing.out.begin(), signing.out.end(), '\n'), 7);
    const std::string manifest = read_file(utf8(manifest_file(dir.path())));
    EXPECT_EQ(manifest.substr(0, manifest.find("\nsigned ")), "kvupdate-release 2\nrelease 2027.10");
    EXPECT_NE(manifest.find("\nvalid-until 2099-06-30T23:59:59Z\n/2027/dll.rar "), std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("\n/logo1024.png 4 "), std::string::npos);
    EXPECT_EQ(run_command("openssl dgst -sha256 -verify '" + key.public_file() + "' -signature '" +
                          utf8(signature_file(dir.path())) + "' '" + utf8(manifest_file(dir.path())) + "'")
                  .out,
              "Verified OK\n");

    // A private key in the wrong place, or a public one given to sign with.
    EXPECT_EQ(run_command(
                  kvtool("sign --release 2027.1 --key '" + key.public_file() + "' '" + dir.str() + "' 2>&1"))
                  .out,
              "kvtool release: İmza anahtarı okunamadı: şifresiz ECDSA P-256 özel anahtarı (PEM) değil\n");
    EXPECT_EQ(run_command(kvtool("sign '" + dir.str() + "' 2>/dev/null")).status, 2);
    EXPECT_EQ(
        run_command(kvtool("sign --key '" + key.private_file() + "' '" + dir.str() + "' 2>/dev/null")).status,
        2); // no release number
    EXPECT_EQ(run_command(kvtool("sign --release 2027.1 --valid-until 30.06.2099 --key '" +
                                 key.private_file() + "' '" + dir.str() + "' 2>/dev/null"))
                  .status,
              2);
}

// A release past its "valid until" is refused by verify as by the updater.
TEST(KvtoolRelease, VerifyRefusesAnExpiredRelease) {
    ReleaseKey key;
    ScratchDir dir("kvtool-expired");
    write_release(dir.path());
    ASSERT_EQ(run_command(kvtool("sign --release 2027.1 --valid-until 2020-01-01 --key '" +
                                 key.private_file() + "' '" + dir.str() + "'"))
                  .status,
              0);
    CommandRun r =
        run_command(kvtool("verify --key '" + key.public_file() + "' '" + dir.str() + "' 2>/dev/null"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Sunucudaki sürüm 2027.1 en geç 2020-01-01T23:59:59Z tarihine kadar kurulabilirdi"),
              std::string::npos)
        << r.out;
}

class KvtoolVerify : public ::testing::TestWithParam<SpoiltRelease> {};

TEST_P(KvtoolVerify, HoldsOnlyForTheWholeRelease) {
    const SpoiltRelease& c = GetParam();
    ReleaseKey key;
    ScratchDir served("kvtool-verify");
    write_release(served.path());
    ASSERT_EQ(
        run_command(kvtool("sign --release 2027.1 --key '" + key.private_file() + "' '" + served.str() + "'"))
            .status,
        0);
    c.spoil(served.path(), key);
    NginxServer nginx(served.path());

    const std::string pub = " --key '" + key.public_file() + "' ";
    for (const std::string& target : {served.str(), "http://127.0.0.1:" + std::to_string(nginx.port())}) {
        CommandRun r = run_command(kvtool("verify" + pub + "'" + target + "' 2>&1"));
        if (*c.error) {
            EXPECT_EQ(r.status, 1) << target << "\n" << r.out;
            EXPECT_NE(r.out.find(c.error), std::string::npos) << target << "\n" << r.out;
        } else {
            EXPECT_EQ(r.status, 0) << target << "\n" << r.out;
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 7)
                << r.out; // the release, then each file
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Releases, KvtoolVerify, ::testing::ValuesIn(kSpoiltReleases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KvtoolRelease, VerifyRefusesAFileTheManifestLeavesOutOfTheFolder) {
    ReleaseKey key;
    ScratchDir dir("kvtool-extra");
    write_release(dir.path());
    ASSERT_EQ(
        run_command(kvtool("sign --release 2027.1 --key '" + key.private_file() + "' '" + dir.str() + "'"))
            .status,
        0);
    write_file(utf8(dir.path() / "2027" / "yeni.rar"), "added after signing");
    CommandRun r =
        run_command(kvtool("verify --key '" + key.public_file() + "' '" + dir.str() + "' 2>/dev/null"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("{\"path\":\"/2027/yeni.rar\",\"error\":\"/2027/yeni.rar sürüm listesinde yok"),
              std::string::npos)
        << r.out;
}

// The plan is what scripts take the release's files from: the files the
// server must hold, in the step's order, and what each package does.
TEST(KvtoolRelease, PlanListsTheFetchedFilesInTheStepsOrder) {
    CommandRun r = run_command(kvtool("plan"));
    ASSERT_EQ(r.status, 0);
    std::vector<std::string> paths;
    for (size_t at = 0; (at = r.out.find("{\"path\":\"", at)) != std::string::npos;) {
        at += 9;
        paths.push_back(r.out.substr(at, r.out.find('"', at) - at));
    }
    EXPECT_EQ(paths, (std::vector<std::string>{"/logo1024.png", "/2027/kuvento.rar", "/2027/telvano.rar",
                                               "/2027/report.rar", "/2027/dorvika.rar", "/2027/dll.rar"}))
        << r.out;
    EXPECT_NE(
        r.out.find("\n{\"path\":\"/2027/telvano.rar\",\"when\":\"on the server\",\"stops\":[\"telvano.exe\","
                   "\"kvbck.exe\"],\"unpacks_into\":\"\",\"puts_in_place\":[\"telvano.exe\",\"kvbck.exe\"],"
                   "\"whole_folder_into_reports\":false}\n"),
        std::string::npos)
        << r.out;
}

} // namespace
} // namespace kv::test
