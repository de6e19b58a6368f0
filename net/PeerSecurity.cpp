#include "net/PeerSecurity.h"

#include <openssl/crypto.h>

#include <cstring>

#include "common/LittleEndian.h"
#include "net/ConstantTime.h"
#include "net/MessageIdentifiers.h"
#include "net/SecureRandom.h"

namespace velt {

namespace {
constexpr uint32_t kDigestAt = 1;
constexpr uint32_t kExponentAt = 21;
constexpr uint32_t kModulusAt = 25;
constexpr uint32_t kCipheredAt = 21;
// The secret travels as a 256-bit number whose top 12 bytes are zero.
constexpr uint32_t kPlainBytes = Big256::kBytes;
}  // namespace

bool PeerSecurity::Initialize(const uint8_t* publicE, const uint8_t* publicN, const uint8_t* privateP,
                              const uint8_t* privateQ) {
    haveExpectedKey_ = false;
    haveOwnKey_ = false;
    if (publicE != nullptr && publicN != nullptr) {
        expectedE_ = ReadU32(publicE);
        expectedN_ = Big256::FromBytes(publicN);
        haveExpectedKey_ = true;
    }
    if (privateP != nullptr && privateQ != nullptr) {
        Key key;
        if (!RsaMakeKey(kRsaDefaultExponent, Big128::FromBytes(privateP), Big128::FromBytes(privateQ), key) ||
            key.n.BitLength() <= kRandomBytes * 8)
            return false;
        key_ = key;
        haveOwnKey_ = true;
    } else if (!haveExpectedKey_) {
        key_ = RsaGenerateKey<4>();
        haveOwnKey_ = true;
    }
    SecureRandomBytes(random_, sizeof random_);
    std::memcpy(previousRandom_, random_, sizeof random_);
    randomTime_ = GetTimeMs();
    enabled_ = true;
    return true;
}

void PeerSecurity::Cookie(PlayerID requester, const uint8_t random[kRandomBytes],
                          uint8_t out[CSHA1::kDigestBytes]) {
    uint8_t input[6 + kRandomBytes];
    WriteU32(input, requester.binaryAddress);
    WriteU16(input + 4, requester.port);
    std::memcpy(input + 6, random, kRandomBytes);
    CSHA1::Digest(input, sizeof input, out);
}

void PeerSecurity::Refresh(NetTime now) {
    if (int32_t(now - randomTime_) <= int32_t(kRandomPeriodMs)) return;
    std::memcpy(previousRandom_, random_, sizeof random_);
    SecureRandomBytes(random_, sizeof random_);
    randomTime_ = now;
}

void PeerSecurity::MakeResponse(PlayerID requester, NetTime now, uint8_t out[kResponseBytes]) {
    Refresh(now);
    out[0] = ID_SECURE_RESPONSE;
    Cookie(requester, random_, out + kDigestAt);
    WriteU32(out + kExponentAt, key_.e);
    key_.n.ToBytes(out + kModulusAt);
}

PeerSecurity::Result PeerSecurity::Answer(const uint8_t response[kResponseBytes],
                                          uint8_t confirm[kConfirmBytes],
                                          uint8_t linkKey[kLinkKeyBytes]) const {
    const uint32_t e = ReadU32(response + kExponentAt);
    const Big256 n = Big256::FromBytes(response + kModulusAt);
    if (ExpectsKey() && (e != expectedE_ || !(n == expectedN_))) return Result::KeyMismatch;
    // A key that would not hide the secret (e of 1, a modulus the secret does not fit below) is
    // no key at all.
    if (!RsaPublicKeyUsable(e, n, kRandomBytes * 8)) return Result::KeyUnusable;

    uint8_t plain[kPlainBytes] = {};
    SecureRandomBytes(plain, kRandomBytes);
    Big256 ciphered;
    if (!RsaPublic(Big256::FromBytes(plain), e, n, ciphered)) return Result::KeyUnusable;
    for (uint32_t i = 0; i < kLinkKeyBytes; ++i) linkKey[i] = plain[i] ^ response[kDigestAt + i];
    confirm[0] = ID_SECURE_CONFIRM;
    std::memcpy(confirm + kDigestAt, response + kDigestAt, CSHA1::kDigestBytes);
    ciphered.ToBytes(confirm + kCipheredAt);
    OPENSSL_cleanse(plain, sizeof plain);
    return Result::Ok;
}

PeerSecurity::Result PeerSecurity::Confirm(PlayerID requester, const uint8_t confirm[kConfirmBytes],
                                           uint8_t linkKey[kLinkKeyBytes]) const {
    if (!haveOwnKey_) return Result::KeyUnusable;
    uint8_t current[CSHA1::kDigestBytes], previous[CSHA1::kDigestBytes];
    Cookie(requester, random_, current);
    Cookie(requester, previousRandom_, previous);
    if (!ConstantTimeEquals(confirm + kDigestAt, CSHA1::kDigestBytes, current, sizeof current) &&
        !ConstantTimeEquals(confirm + kDigestAt, CSHA1::kDigestBytes, previous, sizeof previous))
        return Result::DigestMismatch;
    Big256 plain;
    if (!RsaPrivate(Big256::FromBytes(confirm + kCipheredAt), key_, plain)) return Result::Undecipherable;
    uint8_t bytes[kPlainBytes];
    plain.ToBytes(bytes);
    // Anything above the 20 secret bytes means the block was not made with our key.
    bool padded = true;
    for (uint32_t i = kRandomBytes; i < kPlainBytes; ++i) padded &= bytes[i] == 0;
    if (padded)
        for (uint32_t i = 0; i < kLinkKeyBytes; ++i) linkKey[i] = bytes[i] ^ confirm[kDigestAt + i];
    OPENSSL_cleanse(bytes, sizeof bytes);
    return padded ? Result::Ok : Result::Undecipherable;
}

}  // namespace velt
