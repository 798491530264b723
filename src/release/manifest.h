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
//
// The second form also says which release it is and when it was signed, and
// may say until when it may be installed, so that a site can refuse an older
// or a stale release however correctly it is signed:
//
//   kvupdate-release 2
//   release 2027.3
//   signed 2027-03-01T09:30:00Z
//   valid-until 2027-06-30T23:59:59Z
//   /2027/dll.rar 48213 9f86...
//
// A release number is decimal numbers joined by "." (2027.3 comes before
// 2027.10); times are UTC. The first form has none of these fields.
#pragma once

#include "platform/crypto.h"
#include "rtl/exception.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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

// True for decimal numbers without leading zeros joined by single dots.
bool valid_release_number(std::string_view number);
// <0, 0 or >0 as release a comes before, is, or comes after release b;
// both must be valid.
int compare_release_numbers(std::string_view a, std::string_view b);

// Seconds since 1970-01-01T00:00:00Z of a time written "YYYY-MM-DDTHH:MM:SSZ";
// nullopt when it is not written so.
std::optional<int64_t> parse_utc_time(std::string_view text);
std::string format_utc_time(int64_t seconds);

// What the second form says of its release.
struct ReleaseInfo {
    std::string number;    // "2027.3"
    int64_t signed_at = 0; // seconds, UTC
    std::optional<int64_t> valid_until;
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
    // The text as parse() reads it, entries sorted by path: the second form
    // when the release is set.
    std::string text() const;

    // The release fields; nullopt for a manifest of the first form.
    const std::optional<ReleaseInfo>& info() const noexcept { return FInfo; }
    // Raises EReleaseError for a release number that is not valid.
    void set_info(ReleaseInfo info);

private:
    std::vector<ManifestEntry> FEntries;
    std::unordered_map<std::string, size_t>
        FIndex; // path -> its entry, so a long list is read in linear time
    std::optional<ReleaseInfo> FInfo;
};

std::string to_hex(const os::Sha256Digest& digest);

} // namespace kv::release
