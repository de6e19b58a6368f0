// The small shared pieces: the keyed running checksum, case-free compares and the self-describing
// compressed block, the latter fed cut and forged blocks as a hostile sender would.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "net/BitStream.h"
#include "net/CompareNoCase.h"
#include "net/DataCompressor.h"
#include "net/RunningChecksum.h"

using namespace velt;

namespace {

std::vector<uint8_t> Repeat(std::vector<uint8_t> unit, size_t times) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

std::vector<uint8_t> AllBytes() {
    std::vector<uint8_t> out(256);
    for (int i = 0; i < 256; ++i) out[size_t(i)] = uint8_t(i);
    return out;
}

// Sums from an independent reading of the cipher: c = b ^ (r >> 8); s += c; r = (c + r) * 52845 + 22719.
TEST(RunningChecksum, KnownSums) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t sum;
    } cases[] = {
        {{}, 0},
        {{0}, 217},
        {{1, 2, 3, 4}, 466},
        {Repeat(AllBytes(), 4), 131601},
        {std::vector<uint8_t>(1000, 0xFF), 124205},
    };
    for (const Case& c : cases) {
        RunningChecksum checksum;
        checksum.Add(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(checksum.GetSum(), c.sum) << c.bytes.size() << " bytes";
    }
}

TEST(RunningChecksum, WordsGoInLeastSignificantByteFirstAndResetStartsOver) {
    RunningChecksum words;
    words.Add(uint32_t{0x04030201});
    RunningChecksum halves;
    halves.Add(uint16_t{0x0201});
    halves.Add(uint16_t{0x0403});
    EXPECT_EQ(words.GetSum(), 466u);
    EXPECT_EQ(halves.GetSum(), 466u);
    words.Reset();
    words.Add(uint8_t{0});
    EXPECT_EQ(words.GetSum(), 217u);
}

TEST(CompareNoCase, SignsOfTheUsualCompares) {
    struct Case {
        const char* a;
        const char* b;
        size_t n;
        int sign;
        int signN;
    } cases[] = {
        {"Levels", "lEVELS", 3, 0, 0}, {"abc", "abd", 2, -1, 0},    {"abd", "ABC", 3, 1, 1},
        {"ab", "abc", 2, -1, 0},       {"", "", 0, 0, 0},           {nullptr, "", 1, -1, -1},
        {"", nullptr, 1, 1, 1},        {nullptr, nullptr, 1, 0, 0},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const Case& c : cases) {
        EXPECT_EQ(sign(CompareNoCase(c.a, c.b)), c.sign)
            << (c.a ? c.a : "null") << " " << (c.b ? c.b : "null");
        EXPECT_EQ(sign(CompareNoCaseN(c.a, c.b, c.n)), c.signN) << (c.a ? c.a : "null") << " n=" << c.n;
    }
}

std::vector<uint8_t> Decompress(BitStream& block, uint32_t& size) {
    uint8_t* out = nullptr;
    size = DataCompressor::DecompressAndAllocate(block, out);
    std::vector<uint8_t> bytes;
    if (out != nullptr) bytes.assign(out, out + size);
    delete[] out;
    return bytes;
}

TEST(DataCompressor, RoundTripsAnySize) {
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> inputs = {{42}, Repeat({1, 2, 3}, 700), Repeat(AllBytes(), 9)};
    std::vector<uint8_t> skewed(100000);
    for (uint8_t& b : skewed) b = uint8_t(random() % 7 == 0 ? random() : 'e');
    inputs.push_back(skewed);
    std::vector<uint8_t> noise(70001);
    for (uint8_t& b : noise) b = uint8_t(random());
    inputs.push_back(noise);

    for (const std::vector<uint8_t>& input : inputs) {
        BitStream block;
        block.Write(uint8_t{0xA5});  // the block need not start the stream
        DataCompressor::Compress(input.data(), uint32_t(input.size()), block);
        block.Write(uint8_t{0x5A});
        uint8_t lead;
        ASSERT_TRUE(block.Read(lead));
        uint32_t size = 0;
        EXPECT_EQ(Decompress(block, size), input) << input.size() << " bytes";
        EXPECT_EQ(size, input.size());
        uint8_t trail;
        ASSERT_TRUE(block.Read(trail));
        EXPECT_EQ(trail, 0x5A);
    }
    BitStream block;
    DataCompressor::Compress(skewed.data(), uint32_t(skewed.size()), block);
    EXPECT_LT(block.GetNumberOfBytesUsed(), int32_t(skewed.size() / 2)) << "skewed input compresses";
}

// Writes a block header by hand: size, counts, then the raw code-bit count and codeBytes of code.
void WriteForged(BitStream& out, uint32_t size, uint32_t codeBits, uint32_t codeBytes) {
    out.WriteCompressed(size);
    for (int i = 0; i < 256; ++i) out.WriteCompressed(uint32_t(i == 'a' ? 1000 : 0));
    out.AlignWriteToByte();
    out.Write(codeBits);
    for (uint32_t i = 0; i < codeBytes; ++i) out.Write(uint8_t{0});
}

TEST(DataCompressor, RefusesCutAndForgedBlocks) {
    std::vector<uint8_t> input = Repeat({'v', 'e', 'l', 't', ' '}, 1000);
    BitStream good;
    DataCompressor::Compress(input.data(), uint32_t(input.size()), good);

    // Every cut of a good block.
    for (int32_t bytes = 0; bytes < good.GetNumberOfBytesUsed(); ++bytes) {
        BitStream cut(good.GetData(), uint32_t(bytes), false);
        uint32_t size = 7;
        EXPECT_TRUE(Decompress(cut, size).empty()) << bytes;
        EXPECT_EQ(size, 0u);
    }

    struct Forged {
        const char* what;
        uint32_t size, codeBits, codeBytes;
    } forged[] = {
        // Would be a 4 GiB allocation if the size were believed.
        {"size beyond the code bits", 0xFFFFFFFFu, 64, 8},
        {"code bits beyond the stream", 4, 0xFFFFFFF0u, 8},
        {"code bits one past the stream", 4, 65, 8},
        {"decodes to another count than claimed", 60, 64, 8},
    };
    for (const Forged& f : forged) {
        BitStream block;
        WriteForged(block, f.size, f.codeBits, f.codeBytes);
        uint32_t size = 7;
        EXPECT_TRUE(Decompress(block, size).empty()) << f.what;
        EXPECT_EQ(size, 0u) << f.what;
    }
}

}  // namespace
