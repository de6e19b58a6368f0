#pragma once

// What the peer fuzz targets share: a clock the input moves, and fixed primes for the secure
// peer's key, so that no input pays for a key generation.

#include <cstdint>

#include "net/NetPeer.h"

namespace velt::fuzz {

class FuzzClock final : public PeerClock {
public:
    uint64_t NowUs() const override { return us; }
    uint64_t us = 1'000'000;
};

constexpr uint8_t kPrimeP[16] = {0x7d, 0xc8, 0xe3, 0x6a, 0x32, 0xb2, 0x1b, 0x6d,
                                 0xdd, 0x22, 0xcf, 0xdf, 0x9d, 0xe8, 0xee, 0xfd};
constexpr uint8_t kPrimeQ[16] = {0x13, 0x54, 0xdd, 0x49, 0xe4, 0x0c, 0x66, 0x74,
                                 0xd1, 0x82, 0x29, 0x1a, 0x10, 0xd3, 0x92, 0xcf};

}  // namespace velt::fuzz
