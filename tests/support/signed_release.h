// Signed releases for tests: keys made by openssl at run time, and the table
// of spoilt releases that a build with a release key must refuse. Each case
// spoils a release folder that was signed whole (laid out as the package
// server serves it); the product package /2027/kuvento.rar is the one spoilt.
#pragma once

#include "command.h"
#include "fake_programs.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kv::test {

// An ECDSA P-256 key pair made by openssl in a folder of its own. Raises
// std::runtime_error when openssl fails.
class ReleaseKey {
public:
    ReleaseKey();
    std::string private_file() const { return utf8(FDir.path() / "private.pem"); }
    std::string public_file() const { return utf8(FDir.path() / "public.pem"); }
    std::string public_pem() const;
    // Signs `file` the vendor's other way, with openssl itself, into `signature`.
    void openssl_sign(const std::filesystem::path& file, const std::filesystem::path& signature) const;

private:
    ScratchDir FDir{"release-key"};
};

// The release's manifest and signature inside a served folder.
std::filesystem::path manifest_file(const std::filesystem::path& root);
std::filesystem::path signature_file(const std::filesystem::path& root);

struct SpoiltRelease {
    const char* name;
    // Spoils the signed release under `root`; `key` is the one it was signed with.
    void (*spoil)(const std::filesystem::path& root, const ReleaseKey& key);
    // A part of the error's text; empty when the release still holds.
    const char* error;
};
// The whole release, then one case for each way it can be spoilt.
extern const std::vector<SpoiltRelease> kSpoiltReleases;

} // namespace kv::test
