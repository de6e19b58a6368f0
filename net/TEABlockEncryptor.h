#pragma once
// The per-connection datagram cipher of the secure connection: a 64-bit block cipher keyed with
// the connection's 16-byte link key, each 8-byte block enciphered on its own, and a frame around
// the payload (pad count, random pad, one check byte from a running checksum) that lets the
// receiver tell a datagram that was changed on the way.
//
// Frame before enciphering: [check][random << 4 | pad][pad random bytes][payload], a multiple of
// 8 bytes; the check byte is the low byte of S ^ (S << 4), S the running checksum of the rest.

#include <cstdint>

#include "net/ReliabilityChannel.h"

namespace velt {

// A block encryptor the channel can switch on: off until a key is set.
class DataBlockEncryptor : public DatagramCipher {
public:
    static constexpr uint32_t kKeyBytes = 16;
    virtual void SetKey(const uint8_t key[kKeyBytes]) = 0;
    virtual void UnsetKey() = 0;
    bool IsKeySet() const { return keySet_; }

protected:
    bool keySet_ = false;
};

class TEABlockEncryptor final : public DataBlockEncryptor {
public:
    static constexpr uint32_t kBlockBytes = 8;
    static constexpr int kCycles = 32;

    TEABlockEncryptor();
    void SetKey(const uint8_t key[kKeyBytes]) override;
    void UnsetKey() override { keySet_ = false; }
    // In place; data must have room for length + 9 bytes. length must not be 0.
    void Encrypt(uint8_t* data, uint32_t length, uint32_t& outLength) override;
    // In place. False for a length that is not a non-zero multiple of 8, an impossible pad or a
    // check byte that does not match (the buffer is then left deciphered).
    bool Decrypt(uint8_t* data, uint32_t length, uint32_t& outLength) override;
    // Whether data (not changed) deciphers to a well-formed frame with the current key.
    bool Deciphers(const uint8_t* data, uint32_t length) const;

private:
    void EncipherBlocks(uint8_t* data, uint32_t blocks) const;
    void DecipherBlocks(uint8_t* data, uint32_t blocks) const;
    static uint8_t CheckByte(const uint8_t* data, uint32_t length);
    bool Unframe(uint8_t* data, uint32_t length, uint32_t& outLength) const;

    uint32_t delta_;
    uint32_t roundKey_[2 * kCycles] = {};
};

}  // namespace velt
