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
}  // namespace

TEABlockEncryptor::TEABlockEncryptor() : delta_(kMaskedDelta ^ kDeltaMask), finalSum_(delta_ * kCycles) {}

void TEABlockEncryptor::SetKey(const uint8_t key[kKeyBytes]) {
    for (int i = 0; i < 4; ++i) key_[i] = ReadU32(key + 4 * i);
    keySet_ = true;
}

void TEABlockEncryptor::EncipherBlock(uint8_t* block) const {
    uint32_t l = ReadU32(block), r = ReadU32(block + 4), sum = 0;
    for (int i = 0; i < kCycles; ++i) {
        l += (((r << 4) ^ (r >> 5)) + r) ^ (sum + key_[sum & 3]);
        sum += delta_;
        r += (((l << 4) ^ (l >> 5)) + l) ^ (sum + key_[(sum >> 11) & 3]);
    }
    WriteU32(block, l);
    WriteU32(block + 4, r);
}

void TEABlockEncryptor::DecipherBlock(uint8_t* block) const {
    uint32_t l = ReadU32(block), r = ReadU32(block + 4), sum = finalSum_;
    for (int i = 0; i < kCycles; ++i) {
        r -= (((l << 4) ^ (l >> 5)) + l) ^ (sum + key_[(sum >> 11) & 3]);
        sum -= delta_;
        l -= (((r << 4) ^ (r >> 5)) + r) ^ (sum + key_[sum & 3]);
    }
    WriteU32(block, l);
    WriteU32(block + 4, r);
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
    for (uint32_t at = 0; at < outLength; at += kBlockBytes) EncipherBlock(data + at);
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
    for (uint32_t at = 0; at < length; at += kBlockBytes) DecipherBlock(data + at);
    return Unframe(data, length, outLength);
}

bool TEABlockEncryptor::Deciphers(const uint8_t* data, uint32_t length) const {
    if (data == nullptr || length < kBlockBytes || length % kBlockBytes != 0 ||
        length > kMaxDatagramBytes + kMaxFrame)
        return false;
    uint8_t copy[kMaxDatagramBytes + kMaxFrame];
    std::memcpy(copy, data, length);
    for (uint32_t at = 0; at < length; at += kBlockBytes) DecipherBlock(copy + at);
    uint32_t out = 0;
    return Unframe(copy, length, out);
}

}  // namespace velt
