// Checking a signed release: the manifest's signature against the release
// key, then each file against the manifest. Every failure raises
// EReleaseError with a text that names the file and what did not match;
// the updater shows it in its error box and kvtool prints it.
#pragma once

#include "release/manifest.h"
#include "rtl/stream.h"

#include <functional>
#include <string>
#include <string_view>

namespace kv::release {

// The release public key this program was built with (PEM text), or empty
// when it was built without one: such a program checks nothing.
std::string_view built_in_public_key();

// Fetches url into a stream, raising as the HTTP client does.
using Fetch = std::function<void(const std::string& url, TStream& into)>;

// A manifest whose signature held.
class Release {
public:
    // Checks `signature` (DER, ECDSA P-256 over SHA-256) of the manifest's
    // exact bytes with the PEM key, then reads the manifest. `source` names
    // the manifest in the errors (its URL or file).
    static Release verified(std::string_view public_key_pem, std::string_view manifest_text,
                            std::string_view signature, const std::string& source);
    // base_url + release.txt and base_url + release.sig, fetched and verified.
    static Release fetch(const std::string& base_url, std::string_view public_key_pem, const Fetch& fetch);

    const Manifest& manifest() const noexcept { return FManifest; }

    // The entry of a server path; raises when the release does not list it.
    const ManifestEntry& entry(std::string_view path) const;
    // Checks the local file against the entry of the server path: its size
    // first, and only when that matches its SHA-256.
    void check_file(std::string_view path, const std::string& file_name) const;
    // The same for bytes whose size and digest the caller already has.
    void check(std::string_view path, int64_t size, const os::Sha256Digest& digest) const;

private:
    static void check_size(std::string_view path, const ManifestEntry& e, int64_t size);
    static void check_digest(std::string_view path, const ManifestEntry& e, const os::Sha256Digest& digest);

    Manifest FManifest;
};

// Where a site keeps the highest release number it has installed, in its
// program folder: one line, the number.
inline constexpr const char* kInstalledReleaseFile = "KVUpdate.release";

// Whether a verified release may be installed at a site: it must say which
// release it is; that number may not be below `installed` (the highest the
// site has installed, empty when none is known); and `now` (seconds, UTC, by
// the site's clock) may not be past its "valid until". Raises EReleaseError
// naming the numbers and times.
void check_goes_forward(const Manifest& manifest, std::string_view installed, int64_t now);

// The server path of an http URL ("http://host:port/2027/a.rar" gives
// "/2027/a.rar"), as the manifest lists it.
std::string server_path(std::string_view url);

// A stream that keeps nothing of what is written to it but its size and
// SHA-256: a download checked without storing it.
class DigestStream : public TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override { return FSize; }
    os::Sha256Digest Digest() { return FHash.finish(); }

private:
    os::Sha256 FHash;
    int64_t FSize = 0;
};

// The size and SHA-256 of a local file.
struct FileDigest {
    int64_t size = 0;
    os::Sha256Digest sha256{};
};
FileDigest digest_file(const std::string& file_name);

} // namespace kv::release
