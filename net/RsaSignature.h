#pragma once
// Raw RSA signatures over a 1024-bit key: the signed block is the message (at most 128 bytes)
// read as one little-endian number, and a signature is checked by raising it to the public
// exponent and comparing the whole block, padding included, with what was signed.
//
// Key file (little-endian): u32 128 (the modulus bytes), u32 public exponent, 128 bytes modulus,
// 64 bytes p, 64 bytes q.

#include <cstdint>

#include "net/Rsa.h"

namespace velt {

class RsaSignature {
public:
    static constexpr uint32_t kModulusBytes = 128;
    static constexpr uint32_t kPrimeBytes = 64;
    static constexpr uint32_t kDigestBytes = 20;
    static constexpr uint32_t kKeyFileBytes = 8 + kModulusBytes + 2 * kPrimeBytes;
    using Key = RsaKey<16>;

    // False when the file cannot be read, does not start with 128, is short, or its primes do not
    // make its modulus.
    bool LoadKey(const char* path);
    // A new key pair; written to path when one is given (false when that fails).
    bool GenerateKey(const char* path);
    void SetPublicKey(uint32_t exponent, const uint8_t modulus[kModulusBytes]);
    void SetSignature(const uint8_t signature[kModulusBytes]);
    const uint8_t* Signature() const { return signature_; }
    // Signs message (zero-padded to 128 bytes) with the private key into the held signature.
    // False without a private key, for more than 128 bytes, or for a block not below the modulus.
    bool Sign(const uint8_t* message, uint32_t length);
    bool SignDigest(const uint8_t digest[kDigestBytes]) { return Sign(digest, kDigestBytes); }
    // Whether the held signature opens, with the public key, to exactly the digest followed by
    // zeros.
    bool Verify(const uint8_t digest[kDigestBytes]) const;
    const Key& GetKey() const { return key_; }

private:
    Key key_;
    bool havePrivate_ = false;
    uint8_t signature_[kModulusBytes] = {};
};

}  // namespace velt
