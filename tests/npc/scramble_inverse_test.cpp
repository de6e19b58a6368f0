// What the bot sends and what the server restores are exact inverses: every datagram length the
// socket layer handles, with random keys, in both directions.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "net/DatagramDescrambler.h"
#include "net/DatagramScrambler.h"
#include "net/SocketLayer.h"

namespace velt {
namespace {

TEST(NpcScramble, EachInvertsTheOtherForEveryLength) {
    std::mt19937 rng(20240611);
    std::vector<uint8_t> plain, wire, back;
    // A datagram is at most kMaxDatagramBytes long, checksum byte included.
    for (size_t n = 0; n < kMaxDatagramBytes; ++n) {
        const uint16_t port = uint16_t(rng());
        DatagramScrambler scrambler;
        DatagramDescrambler descrambler;
        scrambler.SetKey(port);
        descrambler.SetKey(port);

        // Plain -> wire -> plain.
        plain.resize(n);
        for (auto& b : plain) b = uint8_t(rng());
        wire.assign(n + 1, 0);
        ASSERT_EQ(scrambler.Encode(plain.data(), n, wire.data(), wire.size()), n + 1);
        back.assign(n + 1, 0xEE);
        uint32_t length = uint32_t(n + 1);
        ASSERT_TRUE(descrambler.Descramble(back.data(), back.size(), wire.data(), length)) << n;
        ASSERT_EQ(length, n);
        back.resize(n);
        ASSERT_EQ(back, plain) << "length " << n << " port " << port;

        // Wire -> plain -> wire: any scrambled body restores to a payload that scrambles back
        // to the very same bytes, checksum included.
        for (size_t i = 1; i < wire.size(); ++i) wire[i] = uint8_t(rng());
        back.assign(n + 1, 0);
        length = uint32_t(n + 1);
        descrambler.Descramble(back.data(), back.size(), wire.data(), length);
        wire[0] = DatagramChecksum(back.data(), n);
        std::vector<uint8_t> again(n + 1, 0);
        ASSERT_EQ(scrambler.Encode(back.data(), n, again.data(), again.size()), n + 1);
        ASSERT_EQ(again, wire) << "length " << n << " port " << port;
    }
}

}  // namespace
}  // namespace velt
