#include "net/StringCompressor.h"

#include <cstring>
#include <mutex>

#include "net/BitStream.h"

namespace velt {

const uint32_t DefaultCharacterFrequencies[HuffmanEncodingTree::kSymbols] = {
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    722, 0,   0,    2,    0,    0,     // 0
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 16
    11084, 58,   63,   1,    0,    31,   0,   317,  64,   64,   44,  0,   695,  62,   980,  266,   // 32
    69,    67,   56,   7,    73,   3,    14,  2,    69,   1,    167, 9,   1,    2,    25,   94,    // 48
    0,     195,  139,  34,   96,   48,   103, 56,   125,  653,  21,  5,   23,   64,   85,   44,    // 64
    34,    7,    92,   76,   147,  12,   14,  57,   15,   39,   15,  1,   1,    1,    2,    3,     // 80
    0,     3611, 845,  1077, 1884, 5870, 841, 1057, 2501, 3212, 164, 531, 2019, 1330, 3056, 4037,  // 96
    848,   47,   2586, 2919, 4771, 1707, 535, 1106, 152,  1243, 100, 0,   2,    0,    10,   0,     // 112
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 128
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 144
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 160
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 176
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 192
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 208
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 224
    0,     0,    0,    0,    0,    0,    0,   0,    0,    0,    0,   0,   0,    0,    0,    0,     // 240
};

namespace {

std::mutex& InstanceMutex() {
    static std::mutex m;
    return m;
}
std::unique_ptr<StringCompressor>& InstanceSlot() {
    static std::unique_ptr<StringCompressor> instance;
    return instance;
}
int& ReferenceCount() {
    static int count = 0;
    return count;
}

}  // namespace

StringCompressor* StringCompressor::Instance() {
    std::lock_guard<std::mutex> lock(InstanceMutex());
    auto& slot = InstanceSlot();
    if (!slot) slot = std::make_unique<StringCompressor>();
    return slot.get();
}

void StringCompressor::AddReference() {
    std::lock_guard<std::mutex> lock(InstanceMutex());
    if (++ReferenceCount() == 1 && !InstanceSlot()) InstanceSlot() = std::make_unique<StringCompressor>();
}

void StringCompressor::RemoveReference() {
    std::lock_guard<std::mutex> lock(InstanceMutex());
    // An unbalanced release must not free the instance under a peer that still holds it.
    if (ReferenceCount() == 0) return;
    if (--ReferenceCount() == 0) InstanceSlot().reset();
}

StringCompressor::StringCompressor() {
    auto tree = std::make_unique<HuffmanEncodingTree>();
    tree->BuildFromFrequencies(DefaultCharacterFrequencies);
    trees_[0] = std::move(tree);
}

const HuffmanEncodingTree* StringCompressor::TreeOf(int32_t languageId) const {
    auto it = trees_.find(languageId);
    return it == trees_.end() ? nullptr : it->second.get();
}

void StringCompressor::EncodeString(const char* text, int32_t maxCharsToWrite, BitStream& output,
                                    int32_t languageId) const {
    const HuffmanEncodingTree* tree = TreeOf(languageId);
    if (!tree) return;
    if (!text) {
        output.WriteCompressed(uint16_t(0));
        return;
    }
    const size_t length = strlen(text);
    size_t count =
        (maxCharsToWrite < 1 || length < size_t(maxCharsToWrite)) ? length : size_t(maxCharsToWrite) - 1;
    // The bit count travels in 16 bits: a longer code would be announced short and the rest of
    // the message read as text. Keep the longest prefix whose padded code still fits.
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    uint64_t bits = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t next = bits + tree->CodeOf(bytes[i]).length;
        if (next + tree->PaddingBits(next) > kMaxCodeBits) {
            count = i;
            break;
        }
        bits = next;
    }

    BitStream code;
    tree->EncodeBytes(bytes, count, code);
    const int32_t codeBits = code.GetNumberOfBitsUsed();
    output.WriteCompressed(uint16_t(codeBits));
    output.WriteRawBits(code.GetData(), codeBits, false);
}

bool StringCompressor::DecodeString(char* output, int32_t maxCharsToWrite, BitStream& input,
                                    int32_t languageId) const {
    if (!output || maxCharsToWrite < 1) return false;
    output[0] = 0;
    const HuffmanEncodingTree* tree = TreeOf(languageId);
    if (!tree) return false;
    uint16_t bitCount = 0;
    if (!input.ReadCompressed(bitCount)) return false;
    if (int32_t(bitCount) > input.GetNumberOfUnreadBits()) return false;
    const uint32_t limit = uint32_t(maxCharsToWrite);
    const uint32_t n = tree->DecodeToBuffer(input, bitCount, limit, reinterpret_cast<uint8_t*>(output));
    output[n < limit ? n : limit - 1] = 0;
    return true;
}

void StringCompressor::GenerateTreeFromStrings(const uint8_t* input, uint32_t inputLength,
                                               int32_t languageId) {
    if (!input || inputLength == 0) {
        trees_.erase(languageId);
        return;
    }
    uint32_t frequencies[HuffmanEncodingTree::kSymbols] = {};
    for (uint32_t i = 0; i < inputLength; ++i) ++frequencies[input[i]];
    auto& tree = trees_[languageId];
    if (!tree) tree = std::make_unique<HuffmanEncodingTree>();
    tree->BuildFromFrequencies(frequencies);
}

}  // namespace velt
