// Hashing and signatures through OpenSSL's libcrypto (see platform/crypto.h).
#include "platform/crypto.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

namespace kv::os {
namespace {

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

Bio memory_bio(std::string_view text) {
    return Bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

// Only P-256 keys are accepted, whichever form the PEM gave.
Pkey p256_only(Pkey key) {
    if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_EC) return nullptr;
    char group[64] = {};
    size_t length = 0;
    if (!EVP_PKEY_get_group_name(key.get(), group, sizeof group, &length)) return nullptr;
    if (OBJ_sn2nid(group) != NID_X9_62_prime256v1 && OBJ_ln2nid(group) != NID_X9_62_prime256v1)
        return nullptr;
    return key;
}

} // namespace

struct Sha256::State {
    MdCtx ctx{EVP_MD_CTX_new()};
};

Sha256::Sha256() : FState(std::make_unique<State>()) {
    EVP_DigestInit_ex(FState->ctx.get(), EVP_sha256(), nullptr);
}
Sha256::~Sha256() = default;

void Sha256::update(const void* data, size_t size) {
    EVP_DigestUpdate(FState->ctx.get(), data, size);
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(FState->ctx.get(), digest.data(), &length);
    return digest;
}

struct EcdsaP256PublicKey::State {
    Pkey key;
};

EcdsaP256PublicKey::EcdsaP256PublicKey(std::unique_ptr<State> state) : FState(std::move(state)) {}
EcdsaP256PublicKey::EcdsaP256PublicKey(EcdsaP256PublicKey&&) noexcept = default;
EcdsaP256PublicKey& EcdsaP256PublicKey::operator=(EcdsaP256PublicKey&&) noexcept = default;
EcdsaP256PublicKey::~EcdsaP256PublicKey() = default;

std::optional<EcdsaP256PublicKey> EcdsaP256PublicKey::from_pem(std::string_view pem) {
    Bio bio = memory_bio(pem);
    Pkey key = p256_only(Pkey(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr)));
    if (!key) return std::nullopt;
    return EcdsaP256PublicKey(std::make_unique<State>(State{std::move(key)}));
}

bool EcdsaP256PublicKey::verify(std::string_view message, std::string_view signature) const {
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, FState->key.get()) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

bool can_sign_ecdsa_p256() {
    return true;
}

std::optional<std::string> sign_ecdsa_p256(std::string_view private_key_pem, std::string_view message) {
    Bio bio = memory_bio(private_key_pem);
    // No passphrase callback: an encrypted key is refused rather than prompting.
    static pem_password_cb* const no_passphrase = [](char*, int, int, void*) { return 0; };
    Pkey key = p256_only(Pkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, no_passphrase, nullptr)));
    if (!key) return std::nullopt;
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
        return std::nullopt;
    auto data = reinterpret_cast<const unsigned char*>(message.data());
    size_t length = 0;
    if (EVP_DigestSign(ctx.get(), nullptr, &length, data, message.size()) != 1) return std::nullopt;
    std::string signature(length, '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, data,
                       message.size()) != 1)
        return std::nullopt;
    signature.resize(length);
    return signature;
}

} // namespace kv::os
