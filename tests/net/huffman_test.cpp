// The fixed text code: its shape, padding and the tree walk over hostile bit counts. The exact
// code of every byte value is checked against an independent oracle (huffman_oracle.py).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "net/BitStream.h"
#include "net/HuffmanEncodingTree.h"
#include "net/StringCompressor.h"

using namespace velt;

namespace {

std::string CodeString(const HuffmanEncodingTree& t, uint8_t v) {
    const auto& c = t.CodeOf(v);
    std::string s;
    for (int i = 0; i < c.length; ++i) s += ((c.bits[i >> 3] >> (7 - (i & 7))) & 1) ? '1' : '0';
    return s;
}

struct DefaultTree : ::testing::Test {
    void SetUp() override { tree.BuildFromFrequencies(DefaultCharacterFrequencies); }
    HuffmanEncodingTree tree;
};

}  // namespace

TEST_F(DefaultTree, CodeIsCompletePrefixFreeAndFavoursFrequentBytes) {
    // Kraft sum of exactly 1 with no code a prefix of another: every bit string decodes.
    double kraft = 0;
    std::vector<std::string> codes;
    for (int v = 0; v < 256; ++v) {
        codes.push_back(CodeString(tree, uint8_t(v)));
        ASSERT_GT(codes.back().size(), 0u);
        kraft += 1.0 / double(1ull << codes.back().size());
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            if (a != b) {
                ASSERT_NE(codes[b].rfind(codes[a], 0), 0u) << a << " prefixes " << b;
            }
    // Golden codes of the clients' table (space, 'e', and the unlisted byte 0).
    EXPECT_EQ(CodeString(tree, ' '), "111");
    EXPECT_EQ(CodeString(tree, 'e'), "000");
    EXPECT_EQ(CodeString(tree, 0), "0101011110001101");
}

TEST_F(DefaultTree, PaddingIsAPrefixOfTheLowestLongerCodeAndDecodesToNothing) {
    // "e" is 000; five bits of padding are the first five bits of byte 0's 16-bit code.
    BitStream out;
    const uint8_t e = 'e';
    tree.EncodeBytes(&e, 1, out);
    ASSERT_EQ(out.GetNumberOfBitsUsed(), 8);
    EXPECT_EQ(out.GetData()[0], 0x0A);  // 000 01010

    // Every count of characters ends on a byte boundary and decodes to exactly its bytes.
    const std::string text = "Hi there, 123 ~|{}";
    for (size_t n = 0; n <= text.size(); ++n) {
        BitStream s;
        tree.EncodeBytes(reinterpret_cast<const uint8_t*>(text.data()), n, s);
        ASSERT_EQ(s.GetNumberOfBitsUsed() % 8, 0) << n;
        char buf[32] = {};
        const uint32_t got = tree.DecodeToBuffer(s, uint32_t(s.GetNumberOfBitsUsed()), sizeof buf,
                                                 reinterpret_cast<uint8_t*>(buf));
        ASSERT_EQ(got, n);
        EXPECT_EQ(std::string(buf, n), text.substr(0, n));
        EXPECT_EQ(s.GetNumberOfUnreadBits(), 0);
    }
}

TEST_F(DefaultTree, DecodeCountsPastTheLimitButNeverWritesPastIt) {
    BitStream s;
    const std::string text = "abcdefghij";
    tree.EncodeBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), s);
    uint8_t buf[8];
    memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(tree.DecodeToBuffer(s, uint32_t(s.GetNumberOfBitsUsed()), 4, buf), 10u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
    for (int i = 4; i < 8; ++i) EXPECT_EQ(buf[i], 0xEE);

    // A bit count beyond the stream reads nothing rather than running off the buffer.
    BitStream again;
    tree.EncodeBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), again);
    EXPECT_EQ(tree.DecodeToBuffer(again, uint32_t(again.GetNumberOfBitsUsed()) + 1, 8, buf), 0u);
    EXPECT_EQ(again.GetReadOffset(), 0);
}

TEST_F(DefaultTree, DecodeToStreamEmitsEightBitsPerByte) {
    BitStream code;
    const std::string text = "stream";
    tree.EncodeBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), code);
    BitStream out;
    EXPECT_EQ(tree.DecodeToStream(code.GetData(), uint32_t(code.GetNumberOfBitsUsed()), out), 6u);
    ASSERT_EQ(out.GetNumberOfBitsUsed(), 48);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.GetData()), 6), text);
}

TEST(HuffmanTree, EqualWeightsPutTheNewestFirstAndRebuildReplaces) {
    // All weights equal: 256 leaves of weight 1 give a balanced tree of 8-bit codes, and only
    // the tie-break (newest of equal weights first, at every level) decides which byte gets
    // which code. Any other tie-break shuffles these.
    uint32_t flat[256] = {};
    HuffmanEncodingTree t;
    t.BuildFromFrequencies(flat);
    for (int v = 0; v < 256; ++v) ASSERT_EQ(t.CodeOf(uint8_t(v)).length, 8);
    EXPECT_EQ(CodeString(t, 255), "10101010");
    EXPECT_EQ(CodeString(t, 254), "10101011");
    EXPECT_EQ(CodeString(t, 128), "11010101");
    EXPECT_EQ(CodeString(t, 0), "01010101");

    // One dominant byte: rebuilding drops the old tree and its table.
    uint32_t skewed[256] = {};
    skewed['x'] = 1000000;
    t.BuildFromFrequencies(skewed);
    EXPECT_EQ(t.CodeOf('x').length, 1);
    t.FreeTree();
    EXPECT_FALSE(t.IsBuilt());
    BitStream out;
    const uint8_t x = 'x';
    t.EncodeBytes(&x, 1, out);
    EXPECT_EQ(out.GetNumberOfBitsUsed(), 0);
}

TEST_F(DefaultTree, RandomBitsNeverWriteOutsideTheOutput) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> junk(rng() % 64 + 1);
        for (auto& b : junk) b = uint8_t(rng());
        BitStream in(junk.data(), uint32_t(junk.size()), false);
        const uint32_t limit = rng() % 6;
        std::vector<uint8_t> out(limit + 4, 0xEE);
        const uint32_t bits = rng() % (uint32_t(junk.size()) * 8 + 1);
        tree.DecodeToBuffer(in, bits, limit, out.data());
        for (uint32_t i = limit; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE);
        ASSERT_EQ(uint32_t(in.GetReadOffset()), bits);
    }
}
