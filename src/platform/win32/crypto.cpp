// Hashing and signatures through CNG (bcrypt.dll); the key's and the
// signature's encodings are read by crypt32.dll (see platform/crypto.h).
// Both are system DLLs, so the static program still imports nothing else.
#include "platform/crypto.h"

#include <windows.h>

#include <bcrypt.h>
#include <cstring>
#include <wincrypt.h>

namespace kv::os {
namespace {

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

// What crypt32 hands back with CRYPT_DECODE_ALLOC_FLAG.
struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
template <class T> using LocalPtr = std::unique_ptr<T, LocalFreer>;

template <class T> LocalPtr<T> decode(LPCSTR structure, const BYTE* data, DWORD size) {
    void* out = nullptr;
    DWORD out_size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, structure, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &out,
                             &out_size))
        return nullptr;
    return LocalPtr<T>(static_cast<T*>(out));
}

// The DER inside the first "PUBLIC KEY" block of a PEM text.
std::optional<std::string> public_key_der(std::string_view pem) {
    constexpr std::string_view begin = "-----BEGIN PUBLIC KEY-----";
    auto at = pem.find(begin);
    if (at == std::string_view::npos) return std::nullopt;
    std::string block(pem.substr(at));
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr))
        return std::nullopt;
    std::string der(size, '\0');
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
        return std::nullopt;
    der.resize(size);
    return der;
}

// The curve parameter of an EC key: the DER of the named curve's identifier.
bool names_p256(const CRYPT_ALGORITHM_IDENTIFIER& algorithm) {
    static const BYTE p256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    return std::strcmp(algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
           algorithm.Parameters.cbData == sizeof p256 &&
           std::memcmp(algorithm.Parameters.pbData, p256, sizeof p256) == 0;
}

// An integer of the signature (little-endian, as crypt32 gives it) as the 32
// big-endian bytes CNG takes; false when it does not fit.
bool put_big_endian(const CRYPT_UINT_BLOB& n, BYTE* out) {
    DWORD size = n.cbData;
    while (size > 0 && n.pbData[size - 1] == 0)
        --size;
    if (size > 32) return false;
    std::memset(out, 0, 32);
    for (DWORD i = 0; i < size; ++i)
        out[31 - i] = n.pbData[i];
    return true;
}

} // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : FState(std::make_unique<State>()) {
    if (succeeded(BCryptOpenAlgorithmProvider(&FState->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        BCryptCreateHash(FState->algorithm, &FState->hash, nullptr, 0, nullptr, 0, 0);
}
Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t size) {
    auto bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    // CNG takes at most 4 GiB - 1 per call.
    while (size > 0 && FState->hash) {
        ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        BCryptHashData(FState->hash, bytes, piece, 0);
        bytes += piece;
        size -= piece;
    }
}

// A hash that could not be set up gives all zero bytes, which no file's
// digest will match.
Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    if (FState->hash) BCryptFinishHash(FState->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    return digest;
}

struct EcdsaP256PublicKey::State {
    BCRYPT_KEY_HANDLE key = nullptr;
    ~State() {
        if (key) BCryptDestroyKey(key);
    }
};

EcdsaP256PublicKey::EcdsaP256PublicKey(std::unique_ptr<State> state) : FState(std::move(state)) {}
EcdsaP256PublicKey::EcdsaP256PublicKey(EcdsaP256PublicKey&&) noexcept = default;
EcdsaP256PublicKey& EcdsaP256PublicKey::operator=(EcdsaP256PublicKey&&) noexcept = default;
EcdsaP256PublicKey::~EcdsaP256PublicKey() = default;

std::optional<EcdsaP256PublicKey> EcdsaP256PublicKey::from_pem(std::string_view pem) {
    auto der = public_key_der(pem);
    if (!der) return std::nullopt;
    auto info = decode<CERT_PUBLIC_KEY_INFO>(X509_PUBLIC_KEY_INFO, reinterpret_cast<const BYTE*>(der->data()),
                                             static_cast<DWORD>(der->size()));
    if (!info || !names_p256(info->Algorithm)) return std::nullopt;
    auto state = std::make_unique<State>();
    if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info.get(), 0, nullptr, &state->key))
        return std::nullopt;
    return EcdsaP256PublicKey(std::move(state));
}

bool EcdsaP256PublicKey::verify(std::string_view message, std::string_view signature) const {
    auto rs = decode<CERT_ECC_SIGNATURE>(X509_ECC_SIGNATURE, reinterpret_cast<const BYTE*>(signature.data()),
                                         static_cast<DWORD>(signature.size()));
    BYTE raw[64];
    if (!rs || !put_big_endian(rs->r, raw) || !put_big_endian(rs->s, raw + 32)) return false;
    Sha256 hash;
    hash.update(message.data(), message.size());
    Sha256Digest digest = hash.finish();
    return succeeded(BCryptVerifySignature(FState->key, nullptr, digest.data(),
                                           static_cast<ULONG>(digest.size()), raw, sizeof raw, 0));
}

bool can_sign_ecdsa_p256() {
    return false;
}

std::optional<std::string> sign_ecdsa_p256(std::string_view, std::string_view) {
    return std::nullopt;
}

} // namespace kv::os
