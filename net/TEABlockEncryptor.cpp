#include "net/TEABlockEncryptor.h"

#include <cstring>

#include "common/LittleEndian.h"
#include "net/Random.h"
#include "net/RunningChecksum.h"

namespace velt {

namespace {
// The round constant is kept masked so that the binary does not carry it in the plain; both ends
// of a connection must agree on it.
constexpr uint32_t kMaskedDelta = 0x9E3779B9u ^ 0x5A5A1234u;
constexpr uint32_t kDeltaMask = 0x5A5A1234u;
constexpr uint32_t kMaxFrame = DatagramCipher::kCipherGrowthBytes;

// Blocks are independent of each other, so several go through the rounds side by side: one
// block's rounds form a single chain of dependent operations that leaves most of the processor idle.
constexpr uint32_t kLanes = 8;
using Lanes = uint32_t[kLanes];

// The blocks in groups of kLanes (the last group padded with zero lanes): each group's halves
// loaded into l and r, put through the rounds, and stored back.
template <class Rounds>
void InLanes(uint8_t* data, uint32_t blocks, const Rounds& rounds) {
    constexpr uint32_t kBlockBytes = TEABlockEncryptor::kBlockBytes;
    for (uint32_t first = 0; first < blocks; first += kLanes) {
        const uint32_t lanes = blocks - first < kLanes ? blocks - first : kLanes;
        Lanes l = {}, r = {};
        uint8_t* at = data + first * kBlockBytes;
        for (uint32_t j = 0; j < lanes; ++j) {
            l[j] = ReadU32(at + j * kBlockBytes);
            r[j] = ReadU32(at + j * kBlockBytes + 4);
        }
        rounds(l, r);
        for (uint32_t j = 0; j < lanes; ++j) {
            WriteU32(at + j * kBlockBytes, l[j]);
            WriteU32(at + j * kBlockBytes + 4, r[j]);
        }
    }
}
}  // namespace

TEABlockEncryptor::TEABlockEncryptor() : delta_(kMaskedDelta ^ kDeltaMask) {}

void TEABlockEncryptor::SetKey(const uint8_t key[kKeyBytes]) {
    uint32_t k[4];
    for (int i = 0; i < 4; ++i) k[i] = ReadU32(key + 4 * i);
    // Each half-cycle adds a value that depends only on the key and the cycle: made once here
    // rather than per block.
    uint32_t sum = 0;
    for (int i = 0; i < kCycles; ++i) {
        roundKey_[2 * i] = sum + k[sum & 3];
        sum += delta_;
        roundKey_[2 * i + 1] = sum + k[(sum >> 11) & 3];
    }
    keySet_ = true;
}

void TEABlockEncryptor::EncipherBlocks(uint8_t* data, uint32_t blocks) const {
    InLanes(data, blocks, [this](Lanes& l, Lanes& r) {
        for (int i = 0; i < kCycles; ++i) {
            const uint32_t k0 = roundKey_[2 * i], k1 = roundKey_[2 * i + 1];
            for (uint32_t j = 0; j < kLanes; ++j) l[j] += (((r[j] << 4) ^ (r[j] >> 5)) + r[j]) ^ k0;
            for (uint32_t j = 0; j < kLanes; ++j) r[j] += (((l[j] << 4) ^ (l[j] >> 5)) + l[j]) ^ k1;
        }
    });
}

void TEABlockEncryptor::DecipherBlocks(uint8_t* data, uint32_t blocks) const {
    InLanes(data, blocks, [this](Lanes& l, Lanes& r) {
        for (int i = kCycles; i-- > 0;) {
            const uint32_t k0 = roundKey_[2 * i], k1 = roundKey_[2 * i + 1];
            for (uint32_t j = 0; j < kLanes; ++j) r[j] -= (((l[j] << 4) ^ (l[j] >> 5)) + l[j]) ^ k1;
            for (uint32_t j = 0; j < kLanes; ++j) l[j] -= (((r[j] << 4) ^ (r[j] >> 5)) + r[j]) ^ k0;
        }
    });
}

uint8_t TEABlockEncryptor::CheckByte(const uint8_t* data, uint32_t length) {
    RunningChecksum checksum;
    checksum.Add(data, length);
    const uint32_t s = checksum.GetSum();
    return uint8_t(s ^ (s << 4));
}

void TEABlockEncryptor::Encrypt(uint8_t* data, uint32_t length, uint32_t& outLength) {
    if (data == nullptr || length == 0) {
        outLength = 0;
        return;
    }
    const uint32_t pad = (kBlockBytes - ((length + 2) % kBlockBytes)) % kBlockBytes;
    outLength = length + 2 + pad;
    std::memmove(data + 2 + pad, data, length);
    // The pad is not secret: it only keeps equal payloads from giving equal first blocks.
    data[1] = uint8_t((TwisterNext() << 4) | pad);
    for (uint32_t i = 0; i < pad; ++i) data[2 + i] = uint8_t(TwisterNext());
    data[0] = CheckByte(data + 1, outLength - 1);
    EncipherBlocks(data, outLength / kBlockBytes);
}

bool TEABlockEncryptor::Unframe(uint8_t* data, uint32_t length, uint32_t& outLength) const {
    const uint32_t pad = data[1] & 15u;
    if (pad + 2 > length) return false;
    if (CheckByte(data + 1, length - 1) != data[0]) return false;
    outLength = length - pad - 2;
    std::memmove(data, data + 2 + pad, outLength);
    return true;
}

bool TEABlockEncryptor::Decrypt(uint8_t* data, uint32_t length, uint32_t& outLength) {
    if (data == nullptr || length < kBlockBytes || length % kBlockBytes != 0) return false;
    DecipherBlocks(data, length / kBlockBytes);
    return Unframe(data, length, outLength);
}

bool TEABlockEncryptor::Deciphers(const uint8_t* data, uint32_t length) const {
    if (data == nullptr || length < kBlockBytes || length % kBlockBytes != 0 ||
        length > kMaxDatagramBytes + kMaxFrame)
        return false;
    uint8_t copy[kMaxDatagramBytes + kMaxFrame];
    std::memcpy(copy, data, length);
    DecipherBlocks(copy, length / kBlockBytes);
    uint32_t out = 0;
    return Unframe(copy, length, out);
}

}  // namespace velt
