#pragma once
// Whole-buffer Huffman compression into a self-describing block: the block carries the input's
// size and byte counts, so the reader rebuilds the same code without anything agreed beforehand.

#include <cstdint>

namespace velt {

class BitStream;

class DataCompressor {
public:
    // Appends the block for size bytes of input to output. Worth it only for inputs well above
    // 2048 bytes (the byte counts alone take several hundred bits), but any size round-trips.
    static void Compress(const uint8_t* input, uint32_t size, BitStream& output);

    // Reads one block from input's read cursor. On success output receives a new uint8_t[] of the
    // returned size, which the caller deletes with delete[]. Returns 0 (output null) when the block
    // is cut short, claims more bytes than its code bits can carry, or decodes to another size; an
    // empty input also gives 0.
    static uint32_t DecompressAndAllocate(BitStream& input, uint8_t*& output);
};

}  // namespace velt
