// The release manifest and the platform's hashing and signatures, checked
// against openssl's own command line with keys it makes here: a signature
// either side makes holds on the other, and nothing else holds.
#include "release/verification.h"
#include "support/rar5_writer.h"
#include "support/signed_release.h"

#include <gtest/gtest.h>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

TEST(ReleaseCrypto, Sha256InPiecesIsTheStandardDigest) {
    os::Sha256 whole;
    whole.update("abc", 3);
    EXPECT_EQ(release::to_hex(whole.finish()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::string million(1000000, 'a');
    os::Sha256 pieces;
    for (size_t at = 0; at < million.size(); at += 4093)
        pieces.update(million.data() + at, std::min<size_t>(4093, million.size() - at));
    EXPECT_EQ(release::to_hex(pieces.finish()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ReleaseCrypto, SignaturesHoldBothWaysWithOpensslAndOnlyForTheirKeyAndText) {
    ReleaseKey key, other;
    ScratchDir dir("release-sig");
    const std::string text = "kvupdate-release 1\n/logo1024.png 4 00\n";
    write_file(utf8(dir.path() / "text"), text);
    auto public_key = os::EcdsaP256PublicKey::from_pem(key.public_pem());
    ASSERT_TRUE(public_key);

    key.openssl_sign(dir.path() / "text", dir.path() / "by-openssl");
    std::string by_openssl = read_file(utf8(dir.path() / "by-openssl"));
    EXPECT_TRUE(public_key->verify(text, by_openssl));

    auto ours = os::sign_ecdsa_p256(read_file(key.private_file()), text);
    ASSERT_TRUE(ours);
    write_file(utf8(dir.path() / "ours"), *ours);
    EXPECT_EQ(run_command("openssl dgst -sha256 -verify '" + key.public_file() + "' -signature '" +
                          utf8(dir.path() / "ours") + "' '" + utf8(dir.path() / "text") + "' 2>&1")
                  .out,
              "Verified OK\n");

    std::string changed = text;
    changed[text.size() - 2] = '1';
    std::string flipped = by_openssl;
    flipped[flipped.size() - 1] ^= 1;
    EXPECT_FALSE(public_key->verify(changed, by_openssl));
    EXPECT_FALSE(public_key->verify(text, *os::sign_ecdsa_p256(read_file(other.private_file()), text)));
    EXPECT_FALSE(public_key->verify(text, flipped));
    EXPECT_FALSE(public_key->verify(text, by_openssl.substr(0, by_openssl.size() / 2)));
    EXPECT_FALSE(public_key->verify(text, ""));
}

TEST(ReleaseCrypto, OnlyP256KeysInTheirOwnRoleAreTaken) {
    ReleaseKey key;
    ScratchDir dir("release-p384");
    std::string p384 = utf8(dir.path() / "p384.pem");
    ASSERT_EQ(run_command("openssl ecparam -name secp384r1 -genkey -noout -out '" + p384 + "'").status, 0);

    EXPECT_FALSE(os::EcdsaP256PublicKey::from_pem(read_file(key.private_file())));
    EXPECT_FALSE(os::EcdsaP256PublicKey::from_pem("no key"));
    EXPECT_FALSE(os::sign_ecdsa_p256(read_file(p384), "x"));
    EXPECT_FALSE(os::sign_ecdsa_p256(key.public_pem(), "x"));
}

TEST(ReleaseManifest, ReadsWhatItWritesSortedByPath) {
    release::Manifest m;
    m.add({"/2027/kuvento.rar", 12, {}});
    m.add({"/logo1024.png", 0, {0xAB}});
    m.add({"/2027/dll.rar", 7, {}});
    const std::string text = m.text();
    EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1),
              "kvupdate-release 1\n/2027/dll.rar 7 " + std::string(64, '0') + "\n");
    release::Manifest read = release::Manifest::parse(text);
    ASSERT_EQ(read.entries().size(), 3u);
    ASSERT_TRUE(read.find("/logo1024.png"));
    EXPECT_EQ(read.find("/logo1024.png")->sha256[0], 0xAB);
    EXPECT_EQ(read.find("/2027/kuvento.rar")->size, 12);
    EXPECT_FALSE(read.find("/2027/telvano.rar"));
    EXPECT_EQ(read.text(), text);

    EXPECT_THROW(m.add({"/2027/a b.rar", 1, {}}), release::EReleaseError);
    EXPECT_THROW(m.add({"/logo1024.png", 1, {}}), release::EReleaseError);
}

TEST(ReleaseManifest, RefusesATextItCannotReadNamingTheLine) {
    const std::string digest(64, 'a');
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"", "satır 1: metin satır sonuyla bitmiyor"},
        {"kvupdate-release 3\n", "satır 1: \"kvupdate-release 2\" ya da \"kvupdate-release 1\" beklenirdi"},
        {"kvupdate-release 2\n", "satır 2: sürüm numarası ve imza zamanı eksik"},
        {"kvupdate-release 2\nrelease 2027.03\n", "satır 2: \"release\" ve sürüm numarası beklenirdi"},
        {"kvupdate-release 2\n/a 1 " + digest + "\n", "satır 2: \"release\""},
        {"kvupdate-release 2\nrelease 2027.3\n", "satır 3: sürüm numarası ve imza zamanı eksik"},
        {"kvupdate-release 2\nrelease 2027.3\nsigned 2027-02-29T00:00:00Z\n", "satır 3: \"signed\""},
        {"kvupdate-release 2\nrelease 2027.3\nsigned 2027-02-28T00:00:00Z\nvalid-until "
         "2027-13-01T00:00:00Z\n",
         "satır 4: geçersiz \"valid-until\""},
        {"kvupdate-release 1\n/a 1 " + digest, "satır 1: metin satır sonuyla bitmiyor"},
        {"kvupdate-release 1\r\n", "satır 1:"},
        {"kvupdate-release 1\n/a 1 " + digest + "\n\n", "satır 3: \"yol boyut sha256\" beklenirdi"},
        {"kvupdate-release 1\n/a  1 " + digest + "\n", "satır 2: \"yol boyut sha256\" beklenirdi"},
        {"kvupdate-release 1\na 1 " + digest + "\n", "satır 2: geçersiz yol"},
        {"kvupdate-release 1\n/a -1 " + digest + "\n", "satır 2: geçersiz boyut"},
        {"kvupdate-release 1\n/a 01 " + digest + "\n", "satır 2: geçersiz boyut"},
        {"kvupdate-release 1\n/a 99999999999999999999 " + digest + "\n", "satır 2: geçersiz boyut"},
        {"kvupdate-release 1\n/a 1 " + std::string(64, 'A') + "\n", "satır 2: geçersiz SHA-256"},
        {"kvupdate-release 1\n/a 1 " + digest + "0\n", "satır 2: geçersiz SHA-256"},
        {"kvupdate-release 1\n/a 1 " + digest + "\n/a 2 " + digest + "\n", "satır 3: /a iki kez yazılmış"},
    };
    for (const Case& c : cases) {
        try {
            release::Manifest::parse(c.text);
            ADD_FAILURE() << "taken: " << c.text;
        } catch (const release::EReleaseError& e) {
            EXPECT_NE(e.Message().find(c.error), std::string::npos) << e.Message();
            EXPECT_EQ(e.Message().rfind("Sürüm listesi okunamadı: ", 0), 0u) << e.Message();
        }
    }
}

// The second form carries its release and times through text() and parse().
TEST(ReleaseManifest, ReleaseFieldsRoundTripAndNumbersOrderNumerically) {
    release::Manifest m;
    m.add({"/2027/a.rar", 3, {}});
    m.set_info({"2027.3", *release::parse_utc_time("2027-03-01T09:30:00Z"),
                release::parse_utc_time("2028-02-29T23:59:59Z")});
    const std::string text = m.text();
    EXPECT_EQ(text.substr(0, text.find("/2027")), "kvupdate-release 2\nrelease 2027.3\nsigned "
                                                  "2027-03-01T09:30:00Z\nvalid-until 2028-02-29T23:59:59Z\n");
    release::Manifest read = release::Manifest::parse(text);
    ASSERT_TRUE(read.info());
    EXPECT_EQ(read.info()->number, "2027.3");
    EXPECT_EQ(read.text(), text);
    EXPECT_EQ(*release::parse_utc_time("1970-01-02T00:00:01Z"), 86401);
    EXPECT_THROW(m.set_info({"2027.x", 0, {}}), release::EReleaseError);

    struct Order {
        const char *a, *b;
        int sign;
    } orders[] = {{"2027.3", "2027.10", -1},
                  {"2027.3", "2027.3", 0},
                  {"2027.3.1", "2027.3", 1},
                  {"2028", "2027.99", 1},
                  {"9", "10", -1}};
    for (const Order& o : orders) {
        EXPECT_EQ(release::compare_release_numbers(o.a, o.b), o.sign) << o.a << " " << o.b;
        EXPECT_EQ(release::compare_release_numbers(o.b, o.a), -o.sign) << o.b << " " << o.a;
    }
    for (const char* bad : {"", "2027.", ".3", "2027..3", "2027.03", "v2027", "2027 3"})
        EXPECT_FALSE(release::valid_release_number(bad)) << bad;
}

TEST(ReleaseManifest, ServerPathOfAUrl) {
    EXPECT_EQ(release::server_path("http://127.0.0.1:8080/2027/kuvento.rar"), "/2027/kuvento.rar");
    EXPECT_EQ(release::server_path("http://guncelleme.kuvento.com.tr/logo1024.png"), "/logo1024.png");
    EXPECT_EQ(release::server_path("http://host"), "/");
}

} // namespace
} // namespace kv::test
