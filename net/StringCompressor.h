#pragma once
// Length-prefixed Huffman texts: a compressed 16-bit bit count, then the code bits. The code
// of language 0 is fixed (the game clients build the same one), other languages exist only for
// programs that generate their own.

#include <cstdint>
#include <map>
#include <memory>

#include "net/HuffmanEncodingTree.h"

namespace velt {

class BitStream;

// Byte weights of the fixed code of language 0.
extern const uint32_t DefaultCharacterFrequencies[HuffmanEncodingTree::kSymbols];

class StringCompressor {
public:
    // The process-wide instance; created on demand, so it is never null.
    static StringCompressor* Instance();
    // Every peer holds a reference for its lifetime; the instance goes with the last one.
    static void AddReference();
    static void RemoveReference();

    StringCompressor();
    ~StringCompressor() = default;
    StringCompressor(const StringCompressor&) = delete;
    StringCompressor& operator=(const StringCompressor&) = delete;

    // Writes at most maxCharsToWrite - 1 characters of text (the whole text when
    // maxCharsToWrite < 1). A null text is written as the empty text. A text whose code would
    // not fit the 16-bit count is cut to the longest prefix that does. Writes nothing for a
    // language without a tree.
    void EncodeString(const char* text, int32_t maxCharsToWrite, BitStream& output,
                      int32_t languageId = 0) const;
    // Reads one text into output (at most maxCharsToWrite bytes, always terminated); the read
    // cursor ends right after the text's code. False when the stream is short, the language has
    // no tree or maxCharsToWrite < 1; output is then the empty text where it has room.
    bool DecodeString(char* output, int32_t maxCharsToWrite, BitStream& input, int32_t languageId = 0) const;
    // Builds the language's tree from the byte counts of input. With no input the language
    // is dropped.
    void GenerateTreeFromStrings(const uint8_t* input, uint32_t inputLength, int32_t languageId);

    const HuffmanEncodingTree* TreeOf(int32_t languageId) const;

    // Largest bit count the length field can carry.
    static constexpr uint32_t kMaxCodeBits = 0xFFFF;

private:
    std::map<int32_t, std::unique_ptr<HuffmanEncodingTree>> trees_;
};

}  // namespace velt
