// Scrambler and descrambler are each other's inverse, and the checksum refuses what it must.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "net/DatagramDescrambler.h"
#include "net/DatagramScrambler.h"
#include "net/ScrambleTable.h"

namespace velt {
namespace {

std::vector<std::uint8_t> Encode(std::uint16_t port, const std::vector<std::uint8_t>& payload) {
    DatagramScrambler s;
    s.SetKey(port);
    std::vector<std::uint8_t> wire(payload.size() + 1);
    EXPECT_EQ(s.Encode(payload.data(), payload.size(), wire.data(), wire.size()), wire.size());
    return wire;
}

struct Decoded {
    bool ok;
    std::vector<std::uint8_t> plain;
};

Decoded Decode(std::uint16_t port, const std::vector<std::uint8_t>& wire) {
    DatagramDescrambler d;
    d.SetKey(port);
    std::vector<std::uint8_t> out(wire.size() + 1, 0xEE);
    std::uint32_t length = static_cast<std::uint32_t>(wire.size());
    const bool ok = d.Descramble(out.data(), out.size(), wire.data(), length);
    out.resize(length);
    return {ok, out};
}

TEST(Scramble, RoundTripsEveryLengthAndKey) {
    std::mt19937 rng(12345);
    // 0x22B8 cancels the constant (key 0); 0xFFFF and 7777 give odd-position masks with high bits.
    const std::uint16_t ports[] = {0, 7777, 8192, kScrambleKeyConstant, 0xFFFF};
    const std::size_t lengths[] = {0, 1, 2, 3, 17, 255, 1491};
    for (std::uint16_t port : ports) {
        for (std::size_t n : lengths) {
            std::vector<std::uint8_t> payload(n);
            for (auto& b : payload) b = static_cast<std::uint8_t>(rng());
            const Decoded d = Decode(port, Encode(port, payload));
            EXPECT_TRUE(d.ok) << "port " << port << " length " << n;
            EXPECT_EQ(d.plain, payload) << "port " << port << " length " << n;
        }
    }
}

TEST(Scramble, EveryByteValueAtOddAndEvenPositionsSurvives) {
    std::vector<std::uint8_t> payload;
    for (int v = 0; v < 256; ++v) {
        payload.push_back(static_cast<std::uint8_t>(v));
        payload.push_back(static_cast<std::uint8_t>(v));
    }
    const Decoded d = Decode(1234, Encode(1234, payload));
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.plain, payload);
}

TEST(Scramble, ChecksumEdgeCases) {
    // An empty payload is the single checksum byte 0, and that byte alone is a valid empty datagram.
    EXPECT_EQ(Encode(8192, {}), std::vector<std::uint8_t>{0});
    Decoded empty = Decode(8192, {0x00});
    EXPECT_TRUE(empty.ok);
    EXPECT_TRUE(empty.plain.empty());
    EXPECT_FALSE(Decode(8192, {0x02}).ok);

    // 0x55 has no bit under the 0xAA mask.
    EXPECT_EQ(Encode(8192, std::vector<std::uint8_t>(9, 0x55))[0], 0);
    EXPECT_EQ(Encode(8192, {0xFF})[0], 0xAA);
    EXPECT_EQ(Encode(8192, {0xFF, 0x0F})[0], 0xA0);
}

TEST(Scramble, EveryFlippedChecksumBitIsRefused) {
    const std::vector<std::uint8_t> wire = Encode(7777, {0x14, 0x00, 0x20, 0x7A, 0xC3});
    for (int bit = 0; bit < 8; ++bit) {
        std::vector<std::uint8_t> bad = wire;
        bad[0] ^= static_cast<std::uint8_t>(1u << bit);
        EXPECT_FALSE(Decode(7777, bad).ok) << "bit " << bit;
    }
}

TEST(Scramble, KeyOnlyTouchesOddPositions) {
    const std::vector<std::uint8_t> payload = {1, 2, 3, 4, 5, 6, 7};
    // Low bytes differ: output bytes 1, 3, 5, 7 (payload positions 0, 2, 4, 6) stay the same.
    const auto a = Encode(0x1F40, payload);
    const auto b = Encode(0x1F41, payload);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i == 0 || i % 2 == 1) {
            EXPECT_EQ(a[i], b[i]) << "wire byte " << i;
        } else {
            EXPECT_NE(a[i], b[i]) << "wire byte " << i;
        }
    }
    // Only the low byte of the key counts.
    EXPECT_EQ(Encode(0x1F40, payload), Encode(0x3340, payload));
    // Descrambling with another low byte garbles the odd positions.
    EXPECT_NE(Decode(0x1F41, a).plain, payload);
}

TEST(Scramble, DifferenceAtOnePositionStaysThere) {
    DatagramDescrambler d;
    d.SetKey(8192);
    const std::uint8_t a[] = {0x10, 0x20, 0x30, 0x40, 0x50};
    const std::uint8_t b[] = {0x10, 0x20, 0x31, 0x40, 0x50};  // payload position 1 (odd)
    const std::uint8_t c[] = {0x10, 0x20, 0x30, 0x41, 0x50};  // payload position 2 (even)
    std::uint8_t pa[4], pb[4], pc[4];
    std::uint32_t la = 5, lb = 5, lc = 5;
    d.Descramble(pa, 4, a, la);
    d.Descramble(pb, 4, b, lb);
    d.Descramble(pc, 4, c, lc);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pa[i] == pb[i], i != 1) << i;
        EXPECT_EQ(pa[i] == pc[i], i != 2) << i;
    }
}

TEST(Scramble, RefusesWhatDoesNotFit) {
    DatagramDescrambler d;
    std::uint8_t out[4] = {9, 9, 9, 9};
    const std::uint8_t wire[6] = {0, 1, 2, 3, 4, 5};

    std::uint32_t length = 0;
    EXPECT_FALSE(d.Descramble(out, sizeof out, wire, length));
    EXPECT_EQ(length, 0u);

    length = 6;  // five payload bytes into four
    EXPECT_FALSE(d.Descramble(out, sizeof out, wire, length));
    EXPECT_EQ(length, 6u);
    for (std::uint8_t b : out) EXPECT_EQ(b, 9);

    DatagramScrambler s;
    std::uint8_t small[3];
    EXPECT_EQ(s.Encode(wire, 3, small, sizeof small), 0u);
    EXPECT_EQ(s.Encode(wire, 2, small, sizeof small), 3u);
}

}  // namespace
}  // namespace velt
