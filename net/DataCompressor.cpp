#include "net/DataCompressor.h"

#include <memory>
#include <new>

#include "net/BitStream.h"
#include "net/HuffmanEncodingTree.h"

namespace velt {

void DataCompressor::Compress(const uint8_t* input, uint32_t size, BitStream& output) {
    if (input == nullptr) size = 0;
    uint32_t counts[HuffmanEncodingTree::kSymbols] = {};
    for (uint32_t i = 0; i < size; ++i) ++counts[input[i]];
    HuffmanEncodingTree tree;
    tree.BuildFromFrequencies(counts);

    output.WriteCompressed(size);
    for (uint32_t count : counts) output.WriteCompressed(count);
    output.AlignWriteToByte();
    // The code length is known only once the input is coded: leave room and come back.
    const int32_t placeholder = output.GetNumberOfBitsUsed();
    output.Write(uint32_t{0});
    const int32_t codeStart = output.GetNumberOfBitsUsed();
    tree.EncodeBytes(input, size, output);
    const int32_t end = output.GetNumberOfBitsUsed();
    output.SetWriteCursor(placeholder);
    output.Write(uint32_t(end - codeStart));
    output.SetWriteCursor(end);
}

uint32_t DataCompressor::DecompressAndAllocate(BitStream& input, uint8_t*& output) {
    output = nullptr;
    uint32_t size = 0;
    uint32_t counts[HuffmanEncodingTree::kSymbols];
    if (!input.ReadCompressed(size)) return 0;
    for (uint32_t& count : counts)
        if (!input.ReadCompressed(count)) return 0;
    input.AlignReadToByte();
    uint32_t codeBits = 0;
    if (!input.Read(codeBits)) return 0;
    // Every byte costs at least one code bit, and the bits must be there: a size beyond either is
    // a lie, refused before anything is allocated for it.
    if (int64_t(codeBits) > int64_t(input.GetNumberOfUnreadBits()) || size > codeBits || size == 0) return 0;

    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer) return 0;
    HuffmanEncodingTree tree;
    tree.BuildFromFrequencies(counts);
    if (tree.DecodeToBuffer(input, codeBits, size, buffer.get()) != size) return 0;
    output = buffer.release();
    return size;
}

}  // namespace velt
