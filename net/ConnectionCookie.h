#pragma once
// The connection cookie: a system that asks for a connection slot is first sent a cookie and
// gets the slot only by echoing it, which proves it receives at the address it sends from. The
// cookie is a keyed hash of the whole address, the port, a coarse time bucket and the server's
// cookie seed, so the cookie of one address says nothing about another's, and an old one stops
// working by itself.

#include <cstddef>
#include <cstdint>

#include "net/PlayerID.h"

namespace velt {

// SipHash-2-4 of data under a 16-byte key.
uint64_t SipHash24(const uint8_t key[16], const uint8_t* data, size_t length);

class ConnectionCookie {
public:
    static constexpr size_t kKeyBytes = 16;
    // A cookie is good for the bucket it was made in and the next one: 30 to 60 s, time enough
    // for a client's six requests a second apart.
    static constexpr uint64_t kBucketUs = 30'000'000;

    // A fresh random key (getrandom).
    ConnectionCookie();
    // Tests and tools only: a known key.
    void SetKey(const uint8_t key[kKeyBytes]);

    // The cookie to hand sender now.
    uint16_t For(PlayerID sender, uint32_t seed, uint64_t nowUs) const;
    // Whether cookie is the one sender was handed in this bucket or the one before.
    bool Accepts(uint16_t cookie, PlayerID sender, uint32_t seed, uint64_t nowUs) const;

private:
    uint16_t InBucket(PlayerID sender, uint32_t seed, uint64_t bucket) const;

    uint8_t key_[kKeyBytes];
};

}  // namespace velt
