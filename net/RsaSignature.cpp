#include "net/RsaSignature.h"

#include <cstdio>
#include <cstring>

#include "common/LittleEndian.h"

namespace velt {

bool RsaSignature::LoadKey(const char* path) {
    if (path == nullptr) return false;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    uint8_t bytes[kKeyFileBytes];
    const size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    if (got != sizeof bytes || ReadU32(bytes) != kModulusBytes) return false;
    Key key;
    const auto p = BigNumber<16>::FromBytes(bytes + 8 + kModulusBytes);
    const auto q = BigNumber<16>::FromBytes(bytes + 8 + kModulusBytes + kPrimeBytes);
    if (!RsaMakeKey(ReadU32(bytes + 4), p, q, key) || !(key.n == Big1024::FromBytes(bytes + 8))) return false;
    key_ = key;
    havePrivate_ = true;
    return true;
}

bool RsaSignature::GenerateKey(const char* path) {
    key_ = RsaGenerateKey<16>();
    havePrivate_ = true;
    if (path == nullptr) return true;
    uint8_t bytes[kKeyFileBytes];
    WriteU32(bytes, kModulusBytes);
    WriteU32(bytes + 4, key_.e);
    key_.n.ToBytes(bytes + 8);
    key_.p.ToBytes(bytes + 8 + kModulusBytes);
    key_.q.ToBytes(bytes + 8 + kModulusBytes + kPrimeBytes);
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
    return std::fclose(file) == 0 && ok;
}

void RsaSignature::SetPublicKey(uint32_t exponent, const uint8_t modulus[kModulusBytes]) {
    key_ = Key{};
    key_.e = exponent;
    key_.n = Big1024::FromBytes(modulus);
    havePrivate_ = false;
}

void RsaSignature::SetSignature(const uint8_t signature[kModulusBytes]) {
    std::memcpy(signature_, signature, kModulusBytes);
}

bool RsaSignature::Sign(const uint8_t* message, uint32_t length) {
    // The block holds 128 bytes: a longer message would not fit it.
    if (!havePrivate_ || length > kModulusBytes || (message == nullptr && length != 0)) return false;
    uint8_t block[kModulusBytes] = {};
    if (length != 0) std::memcpy(block, message, length);
    Big1024 signature;
    if (!RsaPrivate(Big1024::FromBytes(block), key_, signature)) return false;
    signature.ToBytes(signature_);
    return true;
}

bool RsaSignature::Verify(const uint8_t digest[kDigestBytes]) const {
    Big1024 opened;
    if (!RsaPublic(Big1024::FromBytes(signature_), key_.e, key_.n, opened)) return false;
    uint8_t block[kModulusBytes];
    opened.ToBytes(block);
    // The whole block: with a small exponent, a number whose power merely ends in the digest is
    // easy to find, one whose power is the digest and nothing else is not.
    uint8_t expected[kModulusBytes] = {};
    std::memcpy(expected, digest, kDigestBytes);
    return std::memcmp(block, expected, kModulusBytes) == 0;
}

}  // namespace velt
