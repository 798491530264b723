// SHA-256 through CNG (BCrypt), which every supported Windows has.
#include "platform/digest.h"

#include "platform/files.h"

#include <windows.h>

#include <bcrypt.h>
#include <vector>

namespace kv::os {
namespace {

// A CNG handle pair, closed in every outcome.
struct Sha256 {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~Sha256() {
        if (hash) BCryptDestroyHash(hash);
        if (alg) BCryptCloseAlgorithmProvider(alg, 0);
    }
};

} // namespace

std::optional<std::string> sha256_of_file(std::string_view path) {
    File file;
    if (!file.open(path, FileAccess::Read, FileShare::All, FileDisposition::OpenExisting))
        return std::nullopt;
    Sha256 h;
    if (BCryptOpenAlgorithmProvider(&h.alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
        BCryptCreateHash(h.alg, &h.hash, nullptr, 0, nullptr, 0, 0) < 0)
        return std::nullopt;
    std::vector<unsigned char> buf(65536);
    for (;;) {
        const int64_t n = file.read(buf.data(), static_cast<int64_t>(buf.size()));
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        if (BCryptHashData(h.hash, buf.data(), static_cast<ULONG>(n), 0) < 0) return std::nullopt;
    }
    unsigned char digest[32];
    if (BCryptFinishHash(h.hash, digest, sizeof digest, 0) < 0) return std::nullopt;
    return hex_of(digest, sizeof digest);
}

} // namespace kv::os
