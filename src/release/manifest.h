// The release manifest: the list of every file of a release, by its path on
// the package server, with its size and SHA-256. The vendor signs the
// manifest's exact bytes; the updater checks that signature and then each
// file it downloads against its line here.
//
// The text, UTF-8 with "\n" line ends, a line for each file sorted by path:
//
//   kvupdate-release 1
//   /2027/dll.rar 48213 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08
//   /logo1024.png 5120 ...
//
// A path starts with "/" and holds no blank or control character; the size
// is decimal; the digest is 64 lower-case hex digits.
#pragma once

#include "platform/crypto.h"
#include "rtl/exception.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::release {

// Every failed check of a release: the text names the file and what did not match.
KV_EXCEPTION(EReleaseError, Exception);

// Where a release's manifest and its detached signature sit on the server.
inline constexpr const char* kReleaseFolder = "/2027/";
inline constexpr const char* kManifestName = "release.txt";
inline constexpr const char* kSignatureName = "release.sig";

struct ManifestEntry {
    std::string path;
    int64_t size = 0;
    os::Sha256Digest sha256{};
};

class Manifest {
public:
    // Reads a manifest's text; raises EReleaseError naming the line that is wrong.
    static Manifest parse(std::string_view text);

    // Adds a file; raises EReleaseError for a path the format cannot carry or
    // one already listed.
    void add(ManifestEntry entry);
    // The entry of a server path, or nullptr when the release does not list it.
    const ManifestEntry* find(std::string_view path) const;
    const std::vector<ManifestEntry>& entries() const noexcept { return FEntries; }
    // The text as parse() reads it, entries sorted by path.
    std::string text() const;

private:
    std::vector<ManifestEntry> FEntries;
};

std::string to_hex(const os::Sha256Digest& digest);

} // namespace kv::release
