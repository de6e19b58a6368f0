#pragma once

#include <cstdint>

namespace velt {

// The one serialisation buffer of the transport and the game: a growable run of bits with a
// write cursor (bits used) and a read cursor.
//
// Wire rules (the game clients read and write the same bits):
// - bit i lives in byte i / 8, the first bit of a byte being its most significant (0x80);
// - multi-byte values go out as their little-endian bytes, each most significant bit first;
// - a message is exactly as long as the bits written into it.
//
// Reads are checked against the bits used, whatever the caller passes; a failed read returns
// false and leaves both the read cursor and the destination untouched. Writes cannot fail: a
// stream that would pass 2^31 - 8 bits, or an allocation that fails, ends the program.
//
// Streams up to 256 bytes live in the inline buffer and never touch the heap. A stream built
// over a caller's buffer without copying reads it in place; a write that would run past that
// buffer (or any write, when the buffer was passed as const) first copies it into storage of
// the stream's own.
class BitStream {
public:
    static constexpr int32_t kInlineBytes = 256;
    static constexpr int32_t kInlineBits = kInlineBytes * 8;
    // Largest number of bits a stream can hold (bit counts are signed 32-bit).
    static constexpr int32_t kMaxBits = 0x7FFFFFF8;
    static constexpr uint32_t kMaxBytes = uint32_t(kMaxBits) / 8;

    BitStream();
    // Room for initialBytes: above 256 a heap buffer of exactly that size, else the inline one.
    explicit BitStream(int32_t initialBytes);
    // A stream of lengthInBytes x 8 bits over data. With copyData the bytes are copied (inline
    // below 256 bytes, else a heap buffer of exactly that size); without it the stream reads
    // data in place and the caller keeps ownership. A length above kMaxBytes, or a null data
    // pointer, gives an empty stream.
    BitStream(uint8_t* data, uint32_t lengthInBytes, bool copyData);
    BitStream(char* data, uint32_t lengthInBytes, bool copyData);
    BitStream(const uint8_t* data, uint32_t lengthInBytes, bool copyData);
    BitStream(const char* data, uint32_t lengthInBytes, bool copyData);
    ~BitStream();

    BitStream(const BitStream&) = delete;
    BitStream& operator=(const BitStream&) = delete;

    // ---- ownership --------------------------------------------------------------------------
    // Reads the caller's buffer of lengthInBytes in place from now on (the stream no longer owns
    // a buffer; one it owned is freed). Cursors stay, but never beyond the new length.
    void SetData(uint8_t* data, uint32_t lengthInBytes);
    // Copies a caller's buffer into storage of the stream's own; no effect on an owning stream.
    void TakeOwnership();
    // Hands the caller a copy (new uint8_t[], (bits used + 7) / 8 bytes, null for none) and
    // returns the number of bits used.
    int32_t CopyData(uint8_t*& out) const;
    // Makes room for at least bits bits; never shrinks.
    void SetCapacityBits(int32_t bits);

    // ---- cursors ----------------------------------------------------------------------------
    void Clear() {
        numberOfBitsUsed = 0;
        readOffset = 0;
    }
    void ResetWriteCursor() { numberOfBitsUsed = 0; }
    void ResetReadCursor() { readOffset = 0; }
    // Moves the end of the stream (to overwrite a field, then come back). Kept within the bits
    // the buffer holds. Rewrites are exact for whole bytes starting on a byte boundary.
    void SetWriteCursor(int32_t bits);
    // Moves the read cursor by bits (either way), kept within 0..bits used.
    void SkipBits(int32_t bits);
    void SetReadOffset(int32_t bits);
    void AlignWriteToByte();
    void AlignReadToByte();
    // Debugging aid for callers that parse a whole message: asserts that everything written has
    // been read.
    void AssertStreamEmpty() const;

    int32_t GetNumberOfBitsUsed() const { return numberOfBitsUsed; }
    int32_t GetNumberOfBytesUsed() const { return int32_t((int64_t(numberOfBitsUsed) + 7) >> 3); }
    int32_t GetNumberOfBitsAllocated() const { return numberOfBitsAllocated; }
    int32_t GetReadOffset() const { return readOffset; }
    int32_t GetNumberOfUnreadBits() const { return numberOfBitsUsed - readOffset; }
    uint8_t* GetData() { return data; }
    const uint8_t* GetData() const { return data; }

    // ---- writing ----------------------------------------------------------------------------
    void WriteOne();
    void WriteZero();
    // bitCount bits from source, each byte most significant bit first. When bitCount is not a
    // multiple of 8, the last byte gives its low bits (rightAligned) or its high bits.
    void WriteRawBits(const uint8_t* source, int32_t bitCount, bool rightAligned = true);
    void WriteBytes(const uint8_t* source, int32_t byteCount);
    void WriteBytes(const char* source, int32_t byteCount);
    void WriteBytesAligned(const uint8_t* source, int32_t byteCount);
    void WriteBytesAligned(const char* source, int32_t byteCount);
    // Up to bitCount bits from other's read cursor on (advancing it), fewer when other runs out.
    void WriteFromStream(BitStream& other, int32_t bitCount);
    void WriteStream(BitStream& other);

    void Write(bool value);
    void Write(char value);
    void Write(uint8_t value);
    void Write(int8_t value);
    void Write(uint16_t value);
    void Write(int16_t value);
    void Write(uint32_t value);
    void Write(int32_t value);
    void Write(float value);

    // Compressed integer of sizeInBits / 8 little-endian bytes: one bit per leading byte equal to
    // the filler (0x00 unsigned, 0xFF signed), then the rest; the last byte may shrink to a nibble.
    void WriteCompressedBytes(const uint8_t* source, int32_t sizeInBits, bool isUnsigned);
    void WriteCompressed(uint8_t value);
    void WriteCompressed(int8_t value);
    void WriteCompressed(uint16_t value);
    void WriteCompressed(int16_t value);
    void WriteCompressed(uint32_t value);
    void WriteCompressed(int32_t value);
    // A value meant to lie in (-1.01, 1.01), as 16 bits: trunc((v + 1) x 32767.5) after clamping
    // to [-1, 1]; not-a-number goes out as 32767 (that is, 0).
    void WriteCompressed(float value);
    // f32 magnitude, then (when above 0.00001) the unit vector as three compressed floats.
    void WriteCompressedVector(float x, float y, float z);
    // 52 bits: signs of w, x, y, z, then |x|, |y|, |z| x 65535 as u16; w follows from the rest.
    void WriteCompressedQuaternion(float w, float x, float y, float z);

    // ---- reading ----------------------------------------------------------------------------
    [[nodiscard]] bool ReadOneBit(bool& bit);
    // Fails for bitCount <= 0 or when fewer bits remain. Fills (bitCount + 7) / 8 bytes; a final
    // partial byte is shifted into its low bits when rightAligned.
    [[nodiscard]] bool ReadRawBits(uint8_t* destination, int32_t bitCount, bool rightAligned = true);
    // Fails for a negative count or when fewer bytes remain; zero bytes always succeed.
    [[nodiscard]] bool ReadBytes(uint8_t* destination, int32_t byteCount);
    [[nodiscard]] bool ReadBytes(char* destination, int32_t byteCount);
    // Aligns the read cursor to a byte, then reads; fails for byteCount <= 0. On failure the
    // cursor stays where it was before aligning.
    [[nodiscard]] bool ReadAlignedBytes(uint8_t* destination, int32_t byteCount);
    [[nodiscard]] bool ReadAlignedBytes(char* destination, int32_t byteCount);

    [[nodiscard]] bool Read(bool& value);
    [[nodiscard]] bool Read(char& value);
    [[nodiscard]] bool Read(uint8_t& value);
    [[nodiscard]] bool Read(int8_t& value);
    [[nodiscard]] bool Read(uint16_t& value);
    [[nodiscard]] bool Read(int16_t& value);
    [[nodiscard]] bool Read(uint32_t& value);
    [[nodiscard]] bool Read(int32_t& value);
    [[nodiscard]] bool Read(float& value);

    [[nodiscard]] bool ReadCompressedBytes(uint8_t* destination, int32_t sizeInBits, bool isUnsigned);
    [[nodiscard]] bool ReadCompressed(uint8_t& value);
    [[nodiscard]] bool ReadCompressed(int8_t& value);
    [[nodiscard]] bool ReadCompressed(uint16_t& value);
    [[nodiscard]] bool ReadCompressed(int16_t& value);
    [[nodiscard]] bool ReadCompressed(uint32_t& value);
    [[nodiscard]] bool ReadCompressed(int32_t& value);
    // u16 u gives u / 32767.5 - 1.
    [[nodiscard]] bool ReadCompressed(float& value);
    // Magnitude, and when it is above 0.00001 the unit vector times it; else (0, 0, 0).
    [[nodiscard]] bool ReadCompressedVector(float& x, float& y, float& z);
    // x, y, z = u16 / 65535 with their signs; w = sqrt(max(0, 1 - x^2 - y^2 - z^2)) with its sign.
    [[nodiscard]] bool ReadCompressedQuaternion(float& w, float& x, float& y, float& z);

    // ---- diagnostics ------------------------------------------------------------------------
    // Each used byte as '0'/'1' (the last byte only its used bits), a blank after each byte, a
    // newline at the end; "No bits" for an empty stream. To standard output.
    void PrintBits() const;
    // Same text into out (zero-terminated, cut to outSize).
    void PrintBits(char* out, uint32_t outSize) const;
    static void ReverseBytes(const uint8_t* source, uint8_t* destination, uint32_t length);
    static constexpr bool NeedsByteSwap() { return false; }

private:
    void InitOver(uint8_t* buffer, uint32_t lengthInBytes, bool copy, bool readOnlyBuffer);
    // Makes the next bitCount bits writable: own storage, grown when needed. The common case
    // (an owning stream with room in its last allocated byte) stays inline.
    void PrepareWrite(int64_t bitCount) {
        if (copyData &&
            ((int64_t(numberOfBitsAllocated) - 1) >> 3) >=
                ((int64_t(numberOfBitsUsed) + bitCount - 1) >> 3) &&
            bitCount > 0)
            return;
        PrepareWriteSlow(bitCount);
    }
    void PrepareWriteSlow(int64_t bitCount);
    void Reallocate(int64_t newCapacityBits);
    void ReleaseHeap();
    bool UsesInline() const { return data == stackData; }

    // Core bit movers: nbits bits, left-aligned in source/destination bytes.
    void WriteLeftAligned(const uint8_t* source, uint32_t nbits);
    void PeekLeftAligned(int64_t offset, uint8_t* destination, uint32_t nbits) const;
    bool HasBits(int64_t offset, int64_t bitCount) const {
        return bitCount >= 0 && offset >= 0 && offset + bitCount <= numberOfBitsUsed;
    }
    // Short values (1..57 bits) in registers: the low nbits of value, most significant first.
    void WriteBits(uint64_t value, uint32_t nbits);
    uint64_t PeekBits(int64_t offset, uint32_t nbits) const;
    // A value of 1..4 little-endian bytes as its wire bits, most significant first.
    void WriteWord(uint32_t value, uint32_t bytes);
    bool ReadWord(uint32_t& value, uint32_t bytes);
    void WriteCompressedValue(uint32_t value, uint32_t bytes, bool isUnsigned);
    bool ReadCompressedValue(uint32_t& value, uint32_t bytes, bool isUnsigned);
    // Walks a compressed integer from offset without reading it; returns its length in bits or
    // -1 when the stream ends inside it.
    int64_t MeasureCompressed(int64_t offset, int32_t bytes, bool isUnsigned) const;

    int32_t numberOfBitsUsed;
    int32_t numberOfBitsAllocated;
    int32_t readOffset;
    uint8_t* data;
    bool copyData;
    // The stream reads a buffer the caller passed as const: never written in place.
    bool readOnly;
    uint8_t stackData[kInlineBytes];
};

}  // namespace velt
