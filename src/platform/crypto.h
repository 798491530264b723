// Hashing and signatures from the operating system's own cryptography: CNG
// (bcrypt.dll, with crypt32.dll for the key's encoding) on Windows, OpenSSL's
// libcrypto on Linux. Nothing here implements an algorithm; it only carries
// bytes to the platform and back. Used to check signed releases.
//
// Keys are PEM text as openssl writes them; signatures are ECDSA P-256 over
// SHA-256 in the DER form (SEQUENCE of r and s) that `openssl dgst -sign`
// writes, so a release can be checked with openssl as well. None of these
// functions throws: failure is the result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv::os {

using Sha256Digest = std::array<uint8_t, 32>;

// SHA-256 of bytes fed in pieces. finish() ends it; the object is spent then.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, size_t size);
    Sha256Digest finish();

    struct State;

private:
    std::unique_ptr<State> FState;
};

// An ECDSA public key on the P-256 curve.
class EcdsaP256PublicKey {
public:
    // From a PEM "PUBLIC KEY" block (SubjectPublicKeyInfo); nullopt when the
    // text holds no such block or the key is not on P-256.
    static std::optional<EcdsaP256PublicKey> from_pem(std::string_view pem);

    EcdsaP256PublicKey(EcdsaP256PublicKey&&) noexcept;
    EcdsaP256PublicKey& operator=(EcdsaP256PublicKey&&) noexcept;
    ~EcdsaP256PublicKey();

    // Whether `signature` (DER) is this key's signature of SHA-256(message).
    // Any malformed signature is simply not valid.
    bool verify(std::string_view message, std::string_view signature) const;

    struct State;

private:
    explicit EcdsaP256PublicKey(std::unique_ptr<State> state);
    std::unique_ptr<State> FState;
};

// Whether this build can sign (the Linux one can; the Windows one cannot read
// private keys in PEM and leaves signing to the vendor's Linux machine).
bool can_sign_ecdsa_p256();

// The DER signature of SHA-256(message) with the P-256 private key in `pem`
// (PKCS#8 "PRIVATE KEY" or "EC PRIVATE KEY", unencrypted); nullopt when the
// text is no such key or this build cannot sign.
std::optional<std::string> sign_ecdsa_p256(std::string_view private_key_pem, std::string_view message);

} // namespace kv::os
