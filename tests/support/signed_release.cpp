// Signed releases for tests (see signed_release.h).
#include "signed_release.h"

#include "rar5_writer.h"

#include <stdexcept>

namespace kv::test {
namespace {

namespace fs = std::filesystem;

void must_run(const std::string& command) {
    if (run_command(command + " >/dev/null 2>&1").status != 0) throw std::runtime_error("failed: " + command);
}

fs::path product_package(const fs::path& root) {
    return root / "2027" / "kuvento.rar";
}

void change_one_byte(const fs::path& root, const ReleaseKey&) {
    std::string bytes = read_file(utf8(product_package(root)));
    bytes[bytes.size() / 2] ^= 0x01;
    write_file(utf8(product_package(root)), bytes);
}

void add_a_byte(const fs::path& root, const ReleaseKey&) {
    write_file(utf8(product_package(root)), read_file(utf8(product_package(root))) + "x");
}

// The product package's digest changed in its last digit, as someone would
// to pass off another package: the signature no longer matches the text.
void change_manifest(const fs::path& root, const ReleaseKey&) {
    std::string text = read_file(utf8(manifest_file(root)));
    char& digit = text[text.find('\n', text.find("/2027/kuvento.rar ")) - 1];
    digit = digit == '0' ? '1' : '0';
    write_file(utf8(manifest_file(root)), text);
}

void sign_with_another_key(const fs::path& root, const ReleaseKey&) {
    ReleaseKey other;
    other.openssl_sign(manifest_file(root), signature_file(root));
}

void remove_manifest(const fs::path& root, const ReleaseKey&) {
    fs::remove(manifest_file(root));
}

void remove_signature(const fs::path& root, const ReleaseKey&) {
    fs::remove(signature_file(root));
}

// The product package's line taken out, and the manifest signed again with
// the right key: a valid release that does not have the package.
void unlist_package(const fs::path& root, const ReleaseKey& key) {
    std::string text = read_file(utf8(manifest_file(root)));
    auto line = text.find("/2027/kuvento.rar ");
    text.erase(line, text.find('\n', line) + 1 - line);
    write_file(utf8(manifest_file(root)), text);
    key.openssl_sign(manifest_file(root), signature_file(root));
}

} // namespace

ReleaseKey::ReleaseKey() {
    must_run("openssl ecparam -name prime256v1 -genkey -noout -out " + shell_quoted(private_file()));
    must_run("openssl pkey -in " + shell_quoted(private_file()) + " -pubout -out " +
             shell_quoted(public_file()));
}

std::string ReleaseKey::public_pem() const {
    return read_file(public_file());
}

void ReleaseKey::openssl_sign(const fs::path& file, const fs::path& signature) const {
    must_run("openssl dgst -sha256 -sign " + shell_quoted(private_file()) + " -out " +
             shell_quoted(signature) + " " + shell_quoted(file));
}

fs::path manifest_file(const fs::path& root) {
    return root / "2027" / "release.txt";
}

fs::path signature_file(const fs::path& root) {
    return root / "2027" / "release.sig";
}

const std::vector<SpoiltRelease> kSpoiltReleases = {
    {"Whole", [](const fs::path&, const ReleaseKey&) {}, ""},
    {"OneByteChanged", change_one_byte, "/2027/kuvento.rar SHA-256 özeti sürüm listesindekinden farklı"},
    {"ManifestChanged", change_manifest, "Sürüm listesinin imzası geçersiz"},
    {"SignedByAnotherKey", sign_with_another_key, "Sürüm listesinin imzası geçersiz"},
    {"ManifestMissing", remove_manifest, "Sürüm listesi alınamadı"},
    {"SignatureMissing", remove_signature, "Sürüm imzası alınamadı"},
    {"PackageNotListed", unlist_package, "/2027/kuvento.rar sürüm listesinde yok"},
    // Only the size is named: it is compared before any hashing.
    {"SizeDiffers", add_a_byte, "/2027/kuvento.rar boyutu sürüm listesindekinden farklı"},
};

} // namespace kv::test
