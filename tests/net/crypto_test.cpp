// The datagram cipher's frame and the hasher's cycle; values against outside references are in
// crypto_check.py.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "net/BigNumber.h"
#include "net/Sha1.h"
#include "net/TEABlockEncryptor.h"

namespace velt {
namespace {

TEABlockEncryptor Keyed(uint8_t seed) {
    uint8_t key[16];
    for (int i = 0; i < 16; ++i) key[i] = uint8_t(seed * 31 + i);
    TEABlockEncryptor cipher;
    cipher.SetKey(key);
    return cipher;
}

TEST(TEABlockEncryptor, FrameSizesAndRoundTrip) {
    struct Case {
        uint32_t payload, framed;
    };
    for (const Case c : {Case{1, 8}, Case{6, 8}, Case{7, 16}, Case{14, 16}, Case{15, 24}, Case{575, 584}}) {
        SCOPED_TRACE(c.payload);
        TEABlockEncryptor cipher = Keyed(1);
        std::vector<uint8_t> data(c.payload + DatagramCipher::kCipherGrowthBytes);
        for (uint32_t i = 0; i < c.payload; ++i) data[i] = uint8_t(i * 7);
        const std::vector<uint8_t> plain(data.begin(), data.begin() + c.payload);
        uint32_t out = 0;
        cipher.Encrypt(data.data(), c.payload, out);
        ASSERT_EQ(out, c.framed);
        EXPECT_TRUE(cipher.Deciphers(data.data(), out));
        uint32_t back = 0;
        ASSERT_TRUE(cipher.Decrypt(data.data(), out, back));
        ASSERT_EQ(back, c.payload);
        EXPECT_EQ(0, std::memcmp(data.data(), plain.data(), back));
    }
}

TEST(TEABlockEncryptor, RefusesLengthsThatAreNotWholeBlocks) {
    TEABlockEncryptor cipher = Keyed(2);
    uint8_t data[16] = {};
    uint32_t out = 99;
    for (uint32_t length : {0u, 1u, 7u, 12u, 15u}) EXPECT_FALSE(cipher.Decrypt(data, length, out)) << length;
    EXPECT_FALSE(cipher.Decrypt(nullptr, 8, out));
}

// A changed byte anywhere, or another key, is caught but for the one-in-256 chance of the single
// check byte agreeing.
TEST(TEABlockEncryptor, ChangedDatagramsAndOtherKeysAreRefused) {
    std::mt19937 rng(5);
    TEABlockEncryptor cipher = Keyed(3), other = Keyed(4);
    int trials = 0, passedChanged = 0, passedOtherKey = 0;
    for (int i = 0; i < 3000; ++i) {
        const uint32_t length = 1 + rng() % 60;
        std::vector<uint8_t> data(length + DatagramCipher::kCipherGrowthBytes);
        for (uint32_t j = 0; j < length; ++j) data[j] = uint8_t(rng());
        uint32_t out = 0;
        cipher.Encrypt(data.data(), length, out);
        passedOtherKey += other.Deciphers(data.data(), out);
        data[rng() % out] ^= uint8_t(1 + rng() % 255);
        passedChanged += cipher.Deciphers(data.data(), out);
        ++trials;
    }
    EXPECT_LT(passedChanged, trials / 64);
    EXPECT_LT(passedOtherKey, trials / 64);
}

TEST(CSHA1, EmptyDigestAndTheResetCycle) {
    static const uint8_t kEmpty[20] = {0xda, 0x39, 0xa3, 0xee, 0x5e, 0x6b, 0x4b, 0x0d, 0x32, 0x55,
                                       0xbf, 0xef, 0x95, 0x60, 0x18, 0x90, 0xaf, 0xd8, 0x07, 0x09};
    CSHA1 sha;
    sha.Reset();
    sha.Final();
    EXPECT_EQ(0, std::memcmp(sha.DigestBytes(), kEmpty, 20));
    // Without a Reset a finished hasher hashes nothing: no digest that passes for one of "abc".
    const uint8_t abc[3] = {'a', 'b', 'c'};
    uint8_t direct[20];
    CSHA1::Digest(abc, 3, direct);
    sha.Update(abc, 3);
    sha.Final();
    EXPECT_NE(0, std::memcmp(sha.DigestBytes(), direct, 20));
    sha.Reset();
    sha.Update(abc, 3);
    sha.Final();
    EXPECT_EQ(0, std::memcmp(sha.DigestBytes(), direct, 20));
    EXPECT_FALSE(sha.HashFile("/nonexistent/velt-sha1"));
}

TEST(BigNumber, BytesAreWordsLeastSignificantFirst) {
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = uint8_t(i + 1);
    const Big128 n = Big128::FromBytes(bytes);
    EXPECT_EQ(n.word[0], 0x04030201u);
    EXPECT_EQ(n.word[3], 0x100F0E0Du);
    uint8_t back[16];
    n.ToBytes(back);
    EXPECT_EQ(0, std::memcmp(bytes, back, 16));
    EXPECT_EQ(n.BitLength(), 125u);
}

}  // namespace
}  // namespace velt
