#pragma once
// Byte-wise Huffman coder. The texts that the server sends in bulk are coded with one fixed
// code that the game clients rebuild from the same frequency table, so the tree-building
// order (including its tie-break) is part of the protocol and must not be "improved".

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velt {

class BitStream;

class HuffmanEncodingTree {
public:
    static constexpr int kSymbols = 256;
    // 256 leaves give a tree at most 255 levels deep.
    static constexpr int kMaxCodeBits = 255;

    struct Code {
        std::array<uint8_t, (kMaxCodeBits + 7) / 8> bits{};  // most significant bit first
        uint16_t length = 0;
    };

    HuffmanEncodingTree() = default;
    ~HuffmanEncodingTree() = default;
    HuffmanEncodingTree(const HuffmanEncodingTree&) = delete;
    HuffmanEncodingTree& operator=(const HuffmanEncodingTree&) = delete;

    // Replaces any previous tree. A frequency of 0 counts as 1 so that every byte stays codable.
    void BuildFromFrequencies(const uint32_t frequencies[kSymbols]);
    void FreeTree();
    bool IsBuilt() const { return root_ >= 0; }

    // Appends each byte's code, then pads to a byte boundary of the output stream with a
    // proper prefix of a longer code, which a decoder walks into and never completes.
    void EncodeBytes(const uint8_t* input, size_t count, BitStream& output) const;

    // Walks exactly bitCount bits from the input's read cursor. Characters past
    // maxCharsToWrite are counted but not stored, so the result may exceed it. Returns 0
    // without reading when the input holds fewer than bitCount bits.
    uint32_t DecodeToBuffer(BitStream& input, uint32_t bitCount, uint32_t maxCharsToWrite,
                            uint8_t* output) const;
    // Same walk over a byte buffer (which must hold bitCount bits); each decoded byte is
    // appended to the output as 8 bits. Returns the number of bytes decoded.
    uint32_t DecodeToStream(const uint8_t* input, uint32_t bitCount, BitStream& output) const;

    const Code& CodeOf(uint8_t value) const { return table_[value]; }
    // Number of bits EncodeBytes appends after a code of codeBits bits to reach a byte
    // boundary (the stream starting at a byte boundary).
    uint32_t PaddingBits(uint64_t codeBits) const;

private:
    struct Node {
        uint32_t weight = 0;
        int16_t left = -1;
        int16_t right = -1;
        int16_t parent = -1;
        uint8_t value = 0;
    };

    bool IsLeaf(int n) const { return nodes_[n].left < 0; }

    std::vector<Node> nodes_;  // leaves first (index = byte value), then the inner nodes
    int root_ = -1;
    std::array<Code, kSymbols> table_{};
    uint16_t longestCode_ = 0;
};

}  // namespace velt
