// SHA-256 through libcrypto's EVP interface.
#include "platform/digest.h"

#include "platform/files.h"

#include <memory>
#include <openssl/evp.h>

namespace kv::os {

std::optional<std::string> sha256_of_file(std::string_view path) {
    File file;
    if (!file.open(path, FileAccess::Read, FileShare::All, FileDisposition::OpenExisting))
        return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    char buf[65536];
    for (;;) {
        const int64_t n = file.read(buf, sizeof buf);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        EVP_DigestUpdate(ctx.get(), buf, static_cast<size_t>(n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return std::nullopt;
    return hex_of(digest, length);
}

} // namespace kv::os
