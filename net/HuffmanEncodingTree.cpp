#include "net/HuffmanEncodingTree.h"

#include "net/BitStream.h"

namespace velt {

void HuffmanEncodingTree::FreeTree() {
    nodes_.clear();
    root_ = -1;
    table_ = {};
    longestCode_ = 0;
}

void HuffmanEncodingTree::BuildFromFrequencies(const uint32_t frequencies[kSymbols]) {
    FreeTree();
    nodes_.reserve(2 * kSymbols - 1);

    // Work list in ascending weight. A node goes in front of the first one whose weight is
    // greater or equal, so among equal weights the newest leads: the clients build the same
    // tree only with this exact tie-break.
    std::vector<int16_t> work;
    work.reserve(kSymbols);
    auto insert = [&](int16_t n) {
        const uint32_t w = nodes_[n].weight;
        auto it = work.begin();
        while (it != work.end() && nodes_[*it].weight < w) ++it;
        work.insert(it, n);
    };

    for (int v = 0; v < kSymbols; ++v) {
        Node leaf;
        leaf.weight = frequencies[v] == 0 ? 1u : frequencies[v];
        leaf.value = uint8_t(v);
        nodes_.push_back(leaf);
        insert(int16_t(v));
    }

    for (;;) {
        const int16_t lesser = work.front();
        work.erase(work.begin());
        const int16_t greater = work.front();
        work.erase(work.begin());
        Node parent;
        // Weights wrap like the peer's 32-bit arithmetic; both ends must build the same tree.
        parent.weight = nodes_[lesser].weight + nodes_[greater].weight;
        parent.left = lesser;
        parent.right = greater;
        const int16_t p = int16_t(nodes_.size());
        nodes_.push_back(parent);
        nodes_[lesser].parent = p;
        nodes_[greater].parent = p;
        if (work.empty()) {
            root_ = p;
            break;
        }
        insert(p);
    }

    for (int v = 0; v < kSymbols; ++v) {
        // Collect the path leaf-to-root, then store it root-first.
        uint8_t path[kMaxCodeBits];
        int length = 0;
        for (int n = v; nodes_[n].parent >= 0; n = nodes_[n].parent)
            path[length++] = nodes_[nodes_[n].parent].right == n ? 1 : 0;
        Code& code = table_[v];
        code.length = uint16_t(length);
        if (code.length > longestCode_) longestCode_ = code.length;
        for (int i = 0; i < length; ++i)
            if (path[length - 1 - i]) code.bits[i >> 3] |= uint8_t(0x80u >> (i & 7));
    }
}

uint32_t HuffmanEncodingTree::PaddingBits(uint64_t codeBits) const {
    const uint32_t used = uint32_t(codeBits & 7);
    if (used == 0 || !IsBuilt()) return 0;
    const uint32_t r = 8 - used;
    return longestCode_ > r ? r : 0;
}

void HuffmanEncodingTree::EncodeBytes(const uint8_t* input, size_t count, BitStream& output) const {
    if (!IsBuilt()) return;
    for (size_t i = 0; i < count; ++i) {
        const Code& c = table_[input[i]];
        output.WriteRawBits(c.bits.data(), c.length, false);
    }
    const uint32_t used = uint32_t(output.GetNumberOfBitsUsed()) & 7;
    if (used == 0) return;
    const uint32_t r = 8 - used;
    // A proper prefix of a longer code: the decoder stops inside the tree and emits nothing.
    for (const Code& c : table_) {
        if (c.length > r) {
            output.WriteRawBits(c.bits.data(), int32_t(r), false);
            return;
        }
    }
}

uint32_t HuffmanEncodingTree::DecodeToBuffer(BitStream& input, uint32_t bitCount, uint32_t maxCharsToWrite,
                                             uint8_t* output) const {
    if (!IsBuilt() || bitCount == 0) return 0;
    const int64_t start = input.GetReadOffset();
    if (int64_t(bitCount) > int64_t(input.GetNumberOfUnreadBits())) return 0;
    const uint8_t* data = input.GetData();
    uint32_t produced = 0;
    int n = root_;
    for (int64_t i = start, end = start + bitCount; i < end; ++i) {
        const bool bit = (data[i >> 3] >> (7 - (i & 7))) & 1;
        n = bit ? nodes_[n].right : nodes_[n].left;
        if (IsLeaf(n)) {
            if (produced < maxCharsToWrite && output) output[produced] = nodes_[n].value;
            ++produced;
            n = root_;
        }
    }
    input.SkipBits(int32_t(bitCount));
    return produced;
}

uint32_t HuffmanEncodingTree::DecodeToStream(const uint8_t* input, uint32_t bitCount,
                                             BitStream& output) const {
    if (!IsBuilt() || !input) return 0;
    uint32_t produced = 0;
    int n = root_;
    for (uint32_t i = 0; i < bitCount; ++i) {
        const bool bit = (input[i >> 3] >> (7 - (i & 7))) & 1;
        n = bit ? nodes_[n].right : nodes_[n].left;
        if (IsLeaf(n)) {
            output.Write(nodes_[n].value);
            ++produced;
            n = root_;
        }
    }
    return produced;
}

}  // namespace velt
