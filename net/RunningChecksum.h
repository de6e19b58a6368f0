#pragma once
// A keyed running checksum over a byte sequence: each byte is enciphered with a 16-bit key that
// evolves with the bytes seen so far, and the cipher bytes are summed. The block encryptors use it
// to check a deciphered datagram; a single flipped byte changes every later cipher byte.

#include <cstddef>
#include <cstdint>

namespace velt {

class RunningChecksum {
public:
    static constexpr uint16_t kInitialKey = 55665;
    static constexpr uint16_t kMultiplier = 52845;
    static constexpr uint16_t kIncrement = 22719;

    RunningChecksum() = default;

    void Reset() {
        r_ = kInitialKey;
        sum_ = 0;
    }

    void Add(uint8_t value) {
        const uint8_t cipher = uint8_t(value ^ (r_ >> 8));
        sum_ += cipher;
        // In 32 bits: the product passes the range of int.
        r_ = uint16_t((uint32_t(cipher) + r_) * uint32_t{kMultiplier} + kIncrement);
    }
    // Multi-byte values go in least significant byte first, whatever the host.
    void Add(uint16_t value) {
        Add(uint8_t(value));
        Add(uint8_t(value >> 8));
    }
    void Add(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) Add(uint8_t(value >> shift));
    }
    // Reads length bytes of data (none when data is null).
    void Add(const uint8_t* data, size_t length) {
        if (data == nullptr) return;
        for (size_t i = 0; i < length; ++i) Add(data[i]);
    }

    uint32_t GetSum() const { return sum_; }

private:
    uint16_t r_ = kInitialKey;
    uint32_t sum_ = 0;
};

}  // namespace velt
