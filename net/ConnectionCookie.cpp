#include "net/ConnectionCookie.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "common/LittleEndian.h"

namespace velt {

namespace {

uint64_t Rotl(uint64_t v, int bits) { return (v << bits) | (v >> (64 - bits)); }

struct SipState {
    uint64_t v0, v1, v2, v3;
    void Round() {
        v0 += v1;
        v1 = Rotl(v1, 13);
        v1 ^= v0;
        v0 = Rotl(v0, 32);
        v2 += v3;
        v3 = Rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = Rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = Rotl(v1, 17);
        v1 ^= v2;
        v2 = Rotl(v2, 32);
    }
    void Absorb(uint64_t m) {
        v3 ^= m;
        Round();
        Round();
        v0 ^= m;
    }
};

// Fills out from the kernel's generator; should that ever fail, from the library's, mixed with
// the clock, which is weaker but still unknown to a remote system.
void RandomBytes(uint8_t* out, size_t length) {
    size_t got = 0;
    while (got < length) {
        const ssize_t n = getrandom(out + got, length - got, 0);
        if (n > 0) {
            got += size_t(n);
        } else if (n < 0 && errno != EINTR) {
            break;
        }
    }
    if (got == length) return;
    std::random_device device;
    const uint64_t clock = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    for (size_t i = got; i < length; ++i) out[i] = uint8_t(device() ^ (clock >> (8 * (i % 8))));
}

}  // namespace

uint64_t SipHash24(const uint8_t key[16], const uint8_t* data, size_t length) {
    const uint64_t k0 = ReadU64(key);
    const uint64_t k1 = ReadU64(key + 8);
    SipState s{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull, k0 ^ 0x6c7967656e657261ull,
               k1 ^ 0x7465646279746573ull};
    const size_t whole = length / 8 * 8;
    for (size_t i = 0; i < whole; i += 8) s.Absorb(ReadU64(data + i));
    uint64_t last = uint64_t(length & 0xFF) << 56;
    for (size_t i = whole; i < length; ++i) last |= uint64_t(data[i]) << (8 * (i - whole));
    s.Absorb(last);
    s.v2 ^= 0xFF;
    for (int i = 0; i < 4; ++i) s.Round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

ConnectionCookie::ConnectionCookie() { RandomBytes(key_, sizeof key_); }

void ConnectionCookie::SetKey(const uint8_t key[kKeyBytes]) { std::memcpy(key_, key, sizeof key_); }

uint16_t ConnectionCookie::InBucket(PlayerID sender, uint32_t seed, uint64_t bucket) const {
    uint8_t message[4 + 2 + 8 + 4];
    WriteU32(message, sender.binaryAddress);
    WriteU16(message + 4, sender.port);
    WriteU64(message + 6, bucket);
    WriteU32(message + 14, seed);
    return uint16_t(SipHash24(key_, message, sizeof message));
}

uint16_t ConnectionCookie::For(PlayerID sender, uint32_t seed, uint64_t nowUs) const {
    return InBucket(sender, seed, nowUs / kBucketUs);
}

bool ConnectionCookie::Accepts(uint16_t cookie, PlayerID sender, uint32_t seed, uint64_t nowUs) const {
    const uint64_t bucket = nowUs / kBucketUs;
    if (cookie == InBucket(sender, seed, bucket)) return true;
    return bucket != 0 && cookie == InBucket(sender, seed, bucket - 1);
}

}  // namespace velt
