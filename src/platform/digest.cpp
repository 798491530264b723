// The SHA-256 of a file and the hex form of a digest, for both targets: the
// hashing itself is the platform's (platform/crypto.h).
#include "platform/digest.h"

#include "platform/crypto.h"
#include "platform/files.h"

#include <vector>

namespace kv::os {

std::optional<std::string> sha256_of_file(std::string_view path) {
    File file;
    if (!file.open(path, FileAccess::Read, FileShare::All, FileDisposition::OpenExisting))
        return std::nullopt;
    Sha256 hash;
    std::vector<unsigned char> buf(65536);
    for (;;) {
        const int64_t n = file.read(buf.data(), static_cast<int64_t>(buf.size()));
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        hash.update(buf.data(), static_cast<size_t>(n));
    }
    const Sha256Digest digest = hash.finish();
    return hex_of(digest.data(), digest.size());
}

std::string hex_of(const unsigned char* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

} // namespace kv::os
