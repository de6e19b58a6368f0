#pragma once
// The key material and the three steps of the secure handshake, apart from the slots they act on:
//
//   accepting side:   [15][SHA-1 of (address, port, random)][u32 e][32-byte n]        57 bytes
//   connecting side:  [16][the 20 digest bytes][32 bytes: 20 random bytes, enciphered] 53 bytes
//
// Both sides take as link key the first 16 random bytes XOR the first 16 digest bytes. The
// accepting side's random is renewed every 5000 ms; a confirmation made with the one before is
// still taken, so a handshake may straddle a renewal.
//
// Threads: Initialize and Disable only while the peer is not running; the rest on the network
// thread.

#include <cstdint>

#include "net/BigNumber.h"
#include "net/Clock.h"
#include "net/PlayerID.h"
#include "net/Rsa.h"
#include "net/Sha1.h"

namespace velt {

class PeerSecurity {
public:
    static constexpr uint32_t kResponseBytes = 57;
    static constexpr uint32_t kConfirmBytes = 53;
    static constexpr uint32_t kRandomBytes = 20;
    static constexpr uint32_t kLinkKeyBytes = 16;
    static constexpr NetTime kRandomPeriodMs = 5000;
    using Key = RsaKey<4>;

    enum class Result { Ok, KeyMismatch, KeyUnusable, DigestMismatch, Undecipherable };

    // See NetPeerInterface::InitializeSecurity. False when given primes make no key.
    bool Initialize(const uint8_t* publicE, const uint8_t* publicN, const uint8_t* privateP,
                    const uint8_t* privateQ);
    void Disable() { enabled_ = false; }
    bool Enabled() const { return enabled_; }
    // Whether connection requests are answered with the secure exchange (a key pair of our own).
    bool Accepts() const { return enabled_ && haveOwnKey_; }
    bool ExpectsKey() const { return enabled_ && haveExpectedKey_; }
    const Key& OwnKey() const { return key_; }

    // Accepting side: the [15] for a requester.
    void MakeResponse(PlayerID requester, NetTime now, uint8_t out[kResponseBytes]);
    // Connecting side: checks a [15] against the expected key and makes the [16] and the link key.
    Result Answer(const uint8_t response[kResponseBytes], uint8_t confirm[kConfirmBytes],
                  uint8_t linkKey[kLinkKeyBytes]) const;
    // Accepting side: checks a [16] from requester and recovers the link key.
    Result Confirm(PlayerID requester, const uint8_t confirm[kConfirmBytes],
                   uint8_t linkKey[kLinkKeyBytes]) const;

private:
    void Refresh(NetTime now);
    static void Cookie(PlayerID requester, const uint8_t random[kRandomBytes],
                       uint8_t out[CSHA1::kDigestBytes]);

    bool enabled_ = false;
    bool haveExpectedKey_ = false;
    uint32_t expectedE_ = 0;
    Big256 expectedN_;
    bool haveOwnKey_ = false;
    Key key_;
    uint8_t random_[kRandomBytes] = {};
    uint8_t previousRandom_[kRandomBytes] = {};
    NetTime randomTime_ = 0;
};

}  // namespace velt
