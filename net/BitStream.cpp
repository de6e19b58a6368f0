#include "net/BitStream.h"

#include <bit>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velt {

namespace {

[[noreturn]] void Fatal(const char* what) {
    std::fprintf(stderr, "BitStream: %s\n", what);
    std::abort();
}

// High n bits of a byte set (n in 0..8).
inline uint8_t HighMask(uint32_t n) { return uint8_t(0xFF00u >> n); }

// The compressed float: (v + 1) x 32767.5 in single precision, truncated. NaN would make the
// conversion undefined; it goes out as the middle value.
uint16_t CompressUnitFloat(float v) {
    if (std::isnan(v)) return 32767;
    if (v < -1.0f) v = -1.0f;
    if (v > 1.0f) v = 1.0f;
    float shifted = v + 1.0f;
    float scaled = shifted * 32767.5f;
    return uint16_t(scaled);
}

float DecompressUnitFloat(uint16_t u) {
    float scaled = float(u) / 32767.5f;
    return scaled - 1.0f;
}

// |v| x 65535 truncated, low 16 bits kept; saturating so no input is undefined.
uint16_t QuaternionComponent(float v) {
    float scaled = std::fabs(v) * 65535.0f;
    if (std::isnan(scaled)) return 0;
    if (!(scaled < 4294967296.0f)) return 0xFFFF;
    return uint16_t(uint32_t(scaled) & 0xFFFFu);
}

constexpr float kVectorEpsilon = 0.00001f;

// The low `bytes` bytes of a little-endian value in wire order (first byte in the high bits).
// Applying it twice gives the value back.
inline uint32_t WireOrder(uint32_t value, uint32_t bytes) {
    return __builtin_bswap32(value) >> (32u - 8u * bytes);
}

}  // namespace

// ---- construction and ownership -------------------------------------------------------------

BitStream::BitStream()
    : numberOfBitsUsed(0),
      numberOfBitsAllocated(kInlineBits),
      readOffset(0),
      data(stackData),
      copyData(true),
      readOnly(false) {}

BitStream::BitStream(int32_t initialBytes) : BitStream() {
    if (initialBytes > kInlineBytes) {
        uint32_t bytes = uint32_t(initialBytes) > kMaxBytes ? kMaxBytes : uint32_t(initialBytes);
        data = static_cast<uint8_t*>(std::malloc(bytes));
        if (data == nullptr) Fatal("out of memory");
        numberOfBitsAllocated = int32_t(bytes * 8u);
    }
}

BitStream::BitStream(uint8_t* buffer, uint32_t lengthInBytes, bool copy) : BitStream() {
    InitOver(buffer, lengthInBytes, copy, false);
}

BitStream::BitStream(char* buffer, uint32_t lengthInBytes, bool copy) : BitStream() {
    InitOver(reinterpret_cast<uint8_t*>(buffer), lengthInBytes, copy, false);
}

BitStream::BitStream(const uint8_t* buffer, uint32_t lengthInBytes, bool copy) : BitStream() {
    InitOver(const_cast<uint8_t*>(buffer), lengthInBytes, copy, true);
}

BitStream::BitStream(const char* buffer, uint32_t lengthInBytes, bool copy) : BitStream() {
    InitOver(reinterpret_cast<uint8_t*>(const_cast<char*>(buffer)), lengthInBytes, copy, true);
}

void BitStream::InitOver(uint8_t* buffer, uint32_t lengthInBytes, bool copy, bool readOnlyBuffer) {
    if (lengthInBytes > kMaxBytes || (buffer == nullptr && lengthInBytes != 0)) lengthInBytes = 0;
    if (lengthInBytes == 0) {
        // Nothing to read; the first write finds storage through the growth rule.
        data = copy ? nullptr : buffer;
        numberOfBitsAllocated = 0;
        copyData = copy;
        readOnly = !copy && readOnlyBuffer;
        return;
    }
    int32_t bits = int32_t(lengthInBytes * 8u);
    if (copy) {
        if (lengthInBytes < uint32_t(kInlineBytes)) {
            std::memcpy(stackData, buffer, lengthInBytes);
        } else {
            data = static_cast<uint8_t*>(std::malloc(lengthInBytes));
            if (data == nullptr) Fatal("out of memory");
            std::memcpy(data, buffer, lengthInBytes);
            numberOfBitsAllocated = bits;
        }
    } else {
        data = buffer;
        numberOfBitsAllocated = bits;
        copyData = false;
        readOnly = readOnlyBuffer;
    }
    numberOfBitsUsed = bits;
}

BitStream::~BitStream() { ReleaseHeap(); }

void BitStream::ReleaseHeap() {
    if (copyData && data != nullptr && data != stackData) std::free(data);
}

void BitStream::SetData(uint8_t* buffer, uint32_t lengthInBytes) {
    ReleaseHeap();
    if (lengthInBytes > kMaxBytes || buffer == nullptr) lengthInBytes = 0;
    data = buffer;
    copyData = false;
    readOnly = false;
    numberOfBitsAllocated = int32_t(lengthInBytes * 8u);
    if (numberOfBitsUsed > numberOfBitsAllocated) numberOfBitsUsed = numberOfBitsAllocated;
    if (readOffset > numberOfBitsUsed) readOffset = numberOfBitsUsed;
}

void BitStream::TakeOwnership() {
    if (copyData) return;
    int64_t bytes = (int64_t(numberOfBitsAllocated) + 7) >> 3;
    uint8_t* source = data;
    copyData = true;
    readOnly = false;
    if (bytes == 0 || source == nullptr) {
        data = nullptr;
        numberOfBitsAllocated = 0;
        return;
    }
    if (bytes <= kInlineBytes) {
        std::memcpy(stackData, source, size_t(bytes));
        data = stackData;
        numberOfBitsAllocated = kInlineBits;
        return;
    }
    data = static_cast<uint8_t*>(std::malloc(size_t(bytes)));
    if (data == nullptr) Fatal("out of memory");
    std::memcpy(data, source, size_t(bytes));
}

int32_t BitStream::CopyData(uint8_t*& out) const {
    int64_t bytes = (int64_t(numberOfBitsUsed) + 7) >> 3;
    if (bytes == 0) {
        out = nullptr;
        return 0;
    }
    out = new uint8_t[size_t(bytes)];
    std::memcpy(out, data, size_t(bytes));
    return numberOfBitsUsed;
}

void BitStream::SetCapacityBits(int32_t bits) {
    if (bits <= numberOfBitsAllocated) return;
    if (bits > kMaxBits) Fatal("capacity beyond 2^31 bits");
    TakeOwnership();
    if (bits > numberOfBitsAllocated) Reallocate(bits);
}

// Before every write: own storage, and room for bitCount more bits. Growth doubles the bits
// needed, so a stream built bit by bit reallocates a logarithmic number of times.
void BitStream::PrepareWriteSlow(int64_t bitCount) {
    if (bitCount <= 0) return;
    int64_t needed = int64_t(numberOfBitsUsed) + bitCount;
    if (needed > kMaxBits) Fatal("stream beyond 2^31 bits");
    bool fits = ((int64_t(numberOfBitsAllocated) - 1) >> 3) >= ((needed - 1) >> 3);
    if (!copyData) {
        // A caller's writable buffer is written in place while the write fits in it.
        if (fits && !readOnly) return;
        TakeOwnership();
        fits = ((int64_t(numberOfBitsAllocated) - 1) >> 3) >= ((needed - 1) >> 3);
    }
    if (fits) return;
    int64_t capacity = needed * 2;
    if (capacity > kMaxBits) capacity = kMaxBits;
    Reallocate(capacity);
}

void BitStream::Reallocate(int64_t newCapacityBits) {
    int64_t newBytes = (newCapacityBits + 7) >> 3;
    if (data == stackData) {
        if (newBytes > kInlineBytes) {
            uint8_t* heap = static_cast<uint8_t*>(std::malloc(size_t(newBytes)));
            if (heap == nullptr) Fatal("out of memory");
            std::memcpy(heap, stackData, kInlineBytes);
            data = heap;
        }
    } else if (data == nullptr && newBytes <= kInlineBytes) {
        data = stackData;
        newCapacityBits = kInlineBits;
    } else {
        uint8_t* grown = static_cast<uint8_t*>(std::realloc(data, size_t(newBytes)));
        if (grown == nullptr) Fatal("out of memory");
        data = grown;
    }
    if (newCapacityBits > numberOfBitsAllocated) numberOfBitsAllocated = int32_t(newCapacityBits);
}

// ---- cursors --------------------------------------------------------------------------------

void BitStream::SetWriteCursor(int32_t bits) {
    // The whole bytes behind data bound the cursor; capacity may end inside the last one.
    int64_t limit = ((int64_t(numberOfBitsAllocated) + 7) >> 3) * 8;
    int64_t target = bits < 0 ? 0 : bits;
    numberOfBitsUsed = int32_t(target > limit ? limit : target);
}

void BitStream::SkipBits(int32_t bits) {
    int64_t target = int64_t(readOffset) + bits;
    if (target < 0) target = 0;
    if (target > numberOfBitsUsed) target = numberOfBitsUsed;
    readOffset = int32_t(target);
}

void BitStream::SetReadOffset(int32_t bits) {
    if (bits < 0) bits = 0;
    if (bits > numberOfBitsUsed) bits = numberOfBitsUsed;
    readOffset = bits;
}

void BitStream::AlignWriteToByte() {
    int64_t aligned = (int64_t(numberOfBitsUsed) + 7) & ~int64_t(7);
    // The padding bits already lie in the last started byte, so no storage is needed.
    numberOfBitsUsed = int32_t(aligned);
}

void BitStream::AlignReadToByte() {
    int64_t aligned = (int64_t(readOffset) + 7) & ~int64_t(7);
    readOffset = int32_t(aligned > numberOfBitsUsed ? numberOfBitsUsed : aligned);
}

void BitStream::AssertStreamEmpty() const { assert(readOffset == numberOfBitsUsed); }

// ---- bit movers -----------------------------------------------------------------------------

void BitStream::WriteLeftAligned(const uint8_t* source, uint32_t nbits) {
    if (nbits == 0) return;
    PrepareWrite(nbits);
    uint32_t position = uint32_t(numberOfBitsUsed);
    uint8_t* out = data + (position >> 3);
    uint32_t shift = position & 7u;
    uint32_t fullBytes = nbits >> 3;
    uint32_t rest = nbits & 7u;
    if (shift == 0) {
        // Byte-aligned: whole bytes are a block copy; a started byte is stored whole.
        std::memcpy(out, source, fullBytes);
        if (rest != 0) out[fullBytes] = uint8_t(source[fullBytes] & HighMask(rest));
    } else {
        uint8_t carry = uint8_t(out[0] & HighMask(shift));
        for (uint32_t i = 0; i < fullBytes; ++i) {
            uint8_t b = source[i];
            out[i] = uint8_t(carry | (b >> shift));
            carry = uint8_t(b << (8u - shift));
        }
        if (rest != 0) {
            uint8_t b = uint8_t(source[fullBytes] & HighMask(rest));
            out[fullBytes] = uint8_t(carry | (b >> shift));
            if (shift + rest > 8u) out[fullBytes + 1] = uint8_t(b << (8u - shift));
        } else {
            out[fullBytes] = carry;
        }
    }
    numberOfBitsUsed = int32_t(position + nbits);
}

void BitStream::PeekLeftAligned(int64_t offset, uint8_t* destination, uint32_t nbits) const {
    const uint8_t* in = data + (offset >> 3);
    uint32_t shift = uint32_t(offset & 7);
    uint32_t fullBytes = nbits >> 3;
    uint32_t rest = nbits & 7u;
    if (shift == 0) {
        std::memcpy(destination, in, fullBytes);
        if (rest != 0) destination[fullBytes] = uint8_t(in[fullBytes] & HighMask(rest));
        return;
    }
    for (uint32_t i = 0; i < fullBytes; ++i)
        destination[i] = uint8_t((in[i] << shift) | (in[i + 1] >> (8u - shift)));
    if (rest != 0) {
        uint8_t b = uint8_t(in[fullBytes] << shift);
        // Only touch the next byte when the bits really reach into it.
        if (shift + rest > 8u) b = uint8_t(b | (in[fullBytes + 1] >> (8u - shift)));
        destination[fullBytes] = uint8_t(b & HighMask(rest));
    }
}

void BitStream::WriteBits(uint64_t value, uint32_t nbits) {
    PrepareWrite(nbits);
    const uint32_t position = uint32_t(numberOfBitsUsed);
    uint8_t* out = data + (position >> 3);
    const uint32_t shift = position & 7u;
    // The bits left-aligned in a 64-bit window, then moved to the write position in the byte.
    const uint64_t window = (value << (64u - nbits)) >> shift;
    const uint32_t count = (shift + nbits + 7u) >> 3;
    out[0] = uint8_t((out[0] & HighMask(shift)) | uint8_t(window >> 56));
    for (uint32_t k = 1; k < count; ++k) out[k] = uint8_t(window >> (56u - 8u * k));
    numberOfBitsUsed = int32_t(position + nbits);
}

uint64_t BitStream::PeekBits(int64_t offset, uint32_t nbits) const {
    const uint8_t* in = data + (offset >> 3);
    const uint32_t shift = uint32_t(offset & 7);
    uint64_t window = 0;
    if ((offset >> 3) + 8 <= (int64_t(numberOfBitsUsed) + 7) >> 3) {
        // Eight bytes that all belong to the stream: one load.
        std::memcpy(&window, in, 8);
        window = __builtin_bswap64(window);
    } else {
        const uint32_t count = (shift + nbits + 7u) >> 3;
        for (uint32_t k = 0; k < count; ++k) window |= uint64_t(in[k]) << (56u - 8u * k);
    }
    return (window << shift) >> (64u - nbits);
}

// ---- writing --------------------------------------------------------------------------------

void BitStream::WriteOne() { WriteBits(1, 1); }

void BitStream::WriteZero() { WriteBits(0, 1); }

void BitStream::WriteRawBits(const uint8_t* source, int32_t bitCount, bool rightAligned) {
    if (source == nullptr || bitCount <= 0) return;
    uint32_t bits = uint32_t(bitCount);
    uint32_t rest = bits & 7u;
    if (!rightAligned || rest == 0) {
        WriteLeftAligned(source, bits);
        return;
    }
    // Right-aligned tail: the low bits of the last byte are the ones meant.
    PrepareWrite(bits);
    uint32_t fullBytes = bits >> 3;
    if (fullBytes != 0) WriteLeftAligned(source, fullBytes * 8u);
    uint8_t tail = uint8_t(source[fullBytes] << (8u - rest));
    WriteLeftAligned(&tail, rest);
}

void BitStream::WriteBytes(const uint8_t* source, int32_t byteCount) {
    if (source == nullptr || byteCount <= 0) return;
    int64_t bits = int64_t(byteCount) * 8;
    if (bits > kMaxBits) Fatal("stream beyond 2^31 bits");
    WriteLeftAligned(source, uint32_t(bits));
}

void BitStream::WriteBytes(const char* source, int32_t byteCount) {
    WriteBytes(reinterpret_cast<const uint8_t*>(source), byteCount);
}

void BitStream::WriteBytesAligned(const uint8_t* source, int32_t byteCount) {
    AlignWriteToByte();
    WriteBytes(source, byteCount);
}

void BitStream::WriteBytesAligned(const char* source, int32_t byteCount) {
    WriteBytesAligned(reinterpret_cast<const uint8_t*>(source), byteCount);
}

void BitStream::WriteFromStream(BitStream& other, int32_t bitCount) {
    int64_t available = int64_t(other.numberOfBitsUsed) - other.readOffset;
    int64_t remaining = bitCount < available ? bitCount : available;
    // Chunks through a local buffer, so copying a stream onto itself is safe while it grows.
    uint8_t chunk[kInlineBytes];
    while (remaining > 0) {
        uint32_t bits = remaining > kInlineBits ? uint32_t(kInlineBits) : uint32_t(remaining);
        other.PeekLeftAligned(other.readOffset, chunk, bits);
        other.readOffset += int32_t(bits);
        WriteLeftAligned(chunk, bits);
        remaining -= bits;
    }
}

void BitStream::WriteStream(BitStream& other) { WriteFromStream(other, other.numberOfBitsUsed); }

void BitStream::WriteWord(uint32_t value, uint32_t bytes) { WriteBits(WireOrder(value, bytes), 8u * bytes); }

void BitStream::Write(bool value) { WriteBits(value ? 1 : 0, 1); }
void BitStream::Write(char value) { WriteBits(uint8_t(value), 8); }
void BitStream::Write(uint8_t value) { WriteBits(value, 8); }
void BitStream::Write(int8_t value) { WriteBits(uint8_t(value), 8); }
void BitStream::Write(uint16_t value) { WriteWord(value, 2); }
void BitStream::Write(int16_t value) { WriteWord(uint16_t(value), 2); }
void BitStream::Write(uint32_t value) { WriteWord(value, 4); }
void BitStream::Write(int32_t value) { WriteWord(uint32_t(value), 4); }
void BitStream::Write(float value) { WriteWord(std::bit_cast<uint32_t>(value), 4); }

// Up to four bytes are encoded in registers; the byte walk below serves wider values.
void BitStream::WriteCompressedValue(uint32_t value, uint32_t bytes, bool isUnsigned) {
    const uint32_t filler = isUnsigned ? 0x00u : 0xFFu;
    uint64_t prefix = 0;  // the filler bits so far, then the rest, in one run of bits
    uint32_t prefixBits = 0;
    for (uint32_t current = bytes - 1; current > 0; --current) {
        if (((value >> (8u * current)) & 0xFFu) == filler) {
            prefix = (prefix << 1) | 1u;
            ++prefixBits;
            continue;
        }
        const uint32_t restBits = 8u * (current + 1);
        const uint32_t low = restBits == 32 ? value : value & ((1u << restBits) - 1u);
        WriteBits((prefix << (1 + restBits)) | WireOrder(low, current + 1), prefixBits + 1 + restBits);
        return;
    }
    const uint32_t lowest = value & 0xFFu;
    const uint32_t highNibble = lowest & 0xF0u;
    if ((isUnsigned && highNibble == 0x00u) || (!isUnsigned && highNibble == 0xF0u)) {
        WriteBits((prefix << 5) | 0x10u | (lowest & 0x0Fu), prefixBits + 5);
    } else {
        WriteBits((prefix << 9) | lowest, prefixBits + 9);
    }
}

void BitStream::WriteCompressedBytes(const uint8_t* source, int32_t sizeInBits, bool isUnsigned) {
    if (source == nullptr || sizeInBits < 8) return;
    if (sizeInBits < 40) {
        const uint32_t bytes = uint32_t(sizeInBits) / 8;
        uint32_t value = 0;
        for (uint32_t i = 0; i < bytes; ++i) value |= uint32_t(source[i]) << (8u * i);
        WriteCompressedValue(value, bytes, isUnsigned);
        return;
    }
    const uint8_t filler = isUnsigned ? 0x00 : 0xFF;
    int32_t current = sizeInBits / 8 - 1;
    while (current > 0) {
        if (source[current] == filler) {
            WriteOne();
            --current;
        } else {
            WriteZero();
            WriteRawBits(source, (current + 1) * 8, true);
            return;
        }
    }
    const uint8_t highNibble = uint8_t(source[0] & 0xF0);
    if ((isUnsigned && highNibble == 0x00) || (!isUnsigned && highNibble == 0xF0)) {
        WriteOne();
        WriteRawBits(source, 4, true);
    } else {
        WriteZero();
        WriteRawBits(source, 8, true);
    }
}

void BitStream::WriteCompressed(uint8_t value) { WriteCompressedValue(value, 1, true); }
void BitStream::WriteCompressed(int8_t value) { WriteCompressedValue(uint8_t(value), 1, false); }
void BitStream::WriteCompressed(uint16_t value) { WriteCompressedValue(value, 2, true); }
void BitStream::WriteCompressed(int16_t value) { WriteCompressedValue(uint16_t(value), 2, false); }
void BitStream::WriteCompressed(uint32_t value) { WriteCompressedValue(value, 4, true); }
void BitStream::WriteCompressed(int32_t value) { WriteCompressedValue(uint32_t(value), 4, false); }

void BitStream::WriteCompressed(float value) { Write(CompressUnitFloat(value)); }

void BitStream::WriteCompressedVector(float x, float y, float z) {
    // Every partial result rounded to single precision, as the peers compute it.
    float xx = x * x;
    float yy = y * y;
    float zz = z * z;
    float sum = xx + yy;
    sum = sum + zz;
    float magnitude = std::sqrt(sum);
    Write(magnitude);
    if (magnitude > kVectorEpsilon) {
        const uint64_t cx = WireOrder(CompressUnitFloat(x / magnitude), 2);
        const uint64_t cy = WireOrder(CompressUnitFloat(y / magnitude), 2);
        const uint64_t cz = WireOrder(CompressUnitFloat(z / magnitude), 2);
        WriteBits(cx << 32 | cy << 16 | cz, 48);
    }
}

void BitStream::WriteCompressedQuaternion(float w, float x, float y, float z) {
    const uint64_t signs =
        uint64_t(w < 0.0f) << 3 | uint64_t(x < 0.0f) << 2 | uint64_t(y < 0.0f) << 1 | uint64_t(z < 0.0f);
    const uint64_t cx = WireOrder(QuaternionComponent(x), 2);
    const uint64_t cy = WireOrder(QuaternionComponent(y), 2);
    const uint64_t cz = WireOrder(QuaternionComponent(z), 2);
    WriteBits(signs << 48 | cx << 32 | cy << 16 | cz, 52);
}

// ---- reading --------------------------------------------------------------------------------

bool BitStream::ReadOneBit(bool& bit) {
    if (!HasBits(readOffset, 1)) return false;
    bit = (data[readOffset >> 3] & (0x80u >> (readOffset & 7))) != 0;
    ++readOffset;
    return true;
}

bool BitStream::ReadRawBits(uint8_t* destination, int32_t bitCount, bool rightAligned) {
    if (destination == nullptr || bitCount <= 0 || !HasBits(readOffset, bitCount)) return false;
    uint32_t bits = uint32_t(bitCount);
    PeekLeftAligned(readOffset, destination, bits);
    uint32_t rest = bits & 7u;
    if (rightAligned && rest != 0) destination[bits >> 3] = uint8_t(destination[bits >> 3] >> (8u - rest));
    readOffset += bitCount;
    return true;
}

bool BitStream::ReadBytes(uint8_t* destination, int32_t byteCount) {
    if (byteCount < 0) return false;
    if (byteCount == 0) return true;
    int64_t bits = int64_t(byteCount) * 8;
    if (destination == nullptr || !HasBits(readOffset, bits)) return false;
    PeekLeftAligned(readOffset, destination, uint32_t(bits));
    readOffset += int32_t(bits);
    return true;
}

bool BitStream::ReadBytes(char* destination, int32_t byteCount) {
    return ReadBytes(reinterpret_cast<uint8_t*>(destination), byteCount);
}

bool BitStream::ReadAlignedBytes(uint8_t* destination, int32_t byteCount) {
    if (destination == nullptr || byteCount <= 0) return false;
    int64_t start = (int64_t(readOffset) + 7) & ~int64_t(7);
    int64_t bits = int64_t(byteCount) * 8;
    if (!HasBits(start, bits)) return false;
    PeekLeftAligned(start, destination, uint32_t(bits));
    readOffset = int32_t(start + bits);
    return true;
}

bool BitStream::ReadAlignedBytes(char* destination, int32_t byteCount) {
    return ReadAlignedBytes(reinterpret_cast<uint8_t*>(destination), byteCount);
}

bool BitStream::ReadWord(uint32_t& value, uint32_t bytes) {
    if (!HasBits(readOffset, 8 * bytes)) return false;
    value = WireOrder(uint32_t(PeekBits(readOffset, 8u * bytes)), bytes);
    readOffset += int32_t(8 * bytes);
    return true;
}

bool BitStream::Read(bool& value) { return ReadOneBit(value); }

bool BitStream::Read(char& value) {
    uint32_t raw;
    if (!ReadWord(raw, 1)) return false;
    value = char(raw);
    return true;
}

bool BitStream::Read(uint8_t& value) {
    uint32_t raw;
    if (!ReadWord(raw, 1)) return false;
    value = uint8_t(raw);
    return true;
}

bool BitStream::Read(int8_t& value) {
    uint32_t raw;
    if (!ReadWord(raw, 1)) return false;
    value = int8_t(raw);
    return true;
}

bool BitStream::Read(uint16_t& value) {
    uint32_t raw;
    if (!ReadWord(raw, 2)) return false;
    value = uint16_t(raw);
    return true;
}

bool BitStream::Read(int16_t& value) {
    uint32_t raw;
    if (!ReadWord(raw, 2)) return false;
    value = int16_t(raw);
    return true;
}

bool BitStream::Read(uint32_t& value) { return ReadWord(value, 4); }

bool BitStream::Read(int32_t& value) {
    uint32_t raw;
    if (!ReadWord(raw, 4)) return false;
    value = int32_t(raw);
    return true;
}

bool BitStream::Read(float& value) {
    uint32_t raw;
    if (!ReadWord(raw, 4)) return false;
    value = std::bit_cast<float>(raw);
    return true;
}

// The register form of the compressed reader: at most 33 bits are looked at, so they are fetched
// at once; the value is taken only when all of its bits are inside the stream.
bool BitStream::ReadCompressedValue(uint32_t& value, uint32_t bytes, bool isUnsigned) {
    const int64_t available = int64_t(numberOfBitsUsed) - readOffset;
    if (available <= 0) return false;
    const uint32_t have = available < int64_t(8 * bytes + 1) ? uint32_t(available) : 8 * bytes + 1;
    const uint64_t window = PeekBits(readOffset, have) << (64 - have);  // first bit at bit 63
    const uint32_t filler = isUnsigned ? 0x00u : 0xFFu;
    uint32_t result = 0;
    uint32_t position = 0;
    for (uint32_t current = bytes - 1; current > 0; --current) {
        if (position >= have) return false;
        const bool isFiller = ((window >> (63 - position)) & 1u) != 0;
        ++position;
        if (isFiller) {
            result |= filler << (8u * current);
            continue;
        }
        const uint32_t restBits = 8u * (current + 1);
        if (position + restBits > have) return false;
        result |= WireOrder(uint32_t((window << position) >> (64 - restBits)), current + 1);
        value = result;
        readOffset += int32_t(position + restBits);
        return true;
    }
    if (position >= have) return false;
    const bool isNibble = ((window >> (63 - position)) & 1u) != 0;
    ++position;
    const uint32_t restBits = isNibble ? 4u : 8u;
    if (position + restBits > have) return false;
    uint32_t lowest = uint32_t((window << position) >> (64 - restBits));
    if (isNibble && !isUnsigned) lowest |= 0xF0u;
    value = result | lowest;
    readOffset += int32_t(position + restBits);
    return true;
}

int64_t BitStream::MeasureCompressed(int64_t offset, int32_t bytes, bool isUnsigned) const {
    (void)isUnsigned;  // both forms have the same shape
    const int64_t start = offset;
    for (int32_t current = bytes - 1; current > 0; --current) {
        if (!HasBits(offset, 1)) return -1;
        bool filler = (data[offset >> 3] & (0x80u >> (offset & 7))) != 0;
        ++offset;
        if (!filler) {
            int64_t rest = int64_t(current + 1) * 8;
            return HasBits(offset, rest) ? offset + rest - start : -1;
        }
    }
    if (!HasBits(offset, 1)) return -1;
    bool nibble = (data[offset >> 3] & (0x80u >> (offset & 7))) != 0;
    ++offset;
    int64_t rest = nibble ? 4 : 8;
    return HasBits(offset, rest) ? offset + rest - start : -1;
}

bool BitStream::ReadCompressedBytes(uint8_t* destination, int32_t sizeInBits, bool isUnsigned) {
    if (destination == nullptr || sizeInBits < 8) return false;
    const int32_t bytes = sizeInBits / 8;
    if (bytes <= 4) {
        uint32_t value;
        if (!ReadCompressedValue(value, uint32_t(bytes), isUnsigned)) return false;
        for (int32_t i = 0; i < bytes; ++i) destination[i] = uint8_t(value >> (8 * i));
        return true;
    }
    // Walk the value first, so a stream that ends inside it changes neither the cursor nor the
    // destination.
    if (MeasureCompressed(readOffset, bytes, isUnsigned) < 0) return false;
    const uint8_t filler = isUnsigned ? 0x00 : 0xFF;
    bool bit = false;
    for (int32_t current = bytes - 1; current > 0; --current) {
        (void)ReadOneBit(bit);
        if (bit) {
            destination[current] = filler;
        } else {
            return ReadRawBits(destination, (current + 1) * 8, true);
        }
    }
    (void)ReadOneBit(bit);
    if (bit) {
        uint8_t nibble = 0;
        (void)ReadRawBits(&nibble, 4, true);
        if (!isUnsigned) nibble = uint8_t(nibble | 0xF0);
        destination[0] = nibble;
        return true;
    }
    return ReadRawBits(destination, 8, true);
}

bool BitStream::ReadCompressed(uint8_t& value) {
    uint32_t raw;
    if (!ReadCompressedValue(raw, 1, true)) return false;
    value = uint8_t(raw);
    return true;
}

bool BitStream::ReadCompressed(int8_t& value) {
    uint32_t raw;
    if (!ReadCompressedValue(raw, 1, false)) return false;
    value = int8_t(raw);
    return true;
}

bool BitStream::ReadCompressed(uint16_t& value) {
    uint32_t raw;
    if (!ReadCompressedValue(raw, 2, true)) return false;
    value = uint16_t(raw);
    return true;
}

bool BitStream::ReadCompressed(int16_t& value) {
    uint32_t raw;
    if (!ReadCompressedValue(raw, 2, false)) return false;
    value = int16_t(raw);
    return true;
}

bool BitStream::ReadCompressed(uint32_t& value) { return ReadCompressedValue(value, 4, true); }

bool BitStream::ReadCompressed(int32_t& value) {
    uint32_t raw;
    if (!ReadCompressedValue(raw, 4, false)) return false;
    value = int32_t(raw);
    return true;
}

bool BitStream::ReadCompressed(float& value) {
    uint16_t raw;
    if (!Read(raw)) return false;
    value = DecompressUnitFloat(raw);
    return true;
}

bool BitStream::ReadCompressedVector(float& x, float& y, float& z) {
    if (!HasBits(readOffset, 32)) return false;
    const float magnitude = std::bit_cast<float>(WireOrder(uint32_t(PeekBits(readOffset, 32)), 4));
    if (!(magnitude > kVectorEpsilon)) {
        readOffset += 32;
        x = y = z = 0.0f;
        return true;
    }
    if (!HasBits(readOffset, 80)) return false;
    const uint64_t packed = PeekBits(int64_t(readOffset) + 32, 48);
    readOffset += 80;
    x = DecompressUnitFloat(uint16_t(WireOrder(uint32_t(packed >> 32) & 0xFFFFu, 2))) * magnitude;
    y = DecompressUnitFloat(uint16_t(WireOrder(uint32_t(packed >> 16) & 0xFFFFu, 2))) * magnitude;
    z = DecompressUnitFloat(uint16_t(WireOrder(uint32_t(packed) & 0xFFFFu, 2))) * magnitude;
    return true;
}

bool BitStream::ReadCompressedQuaternion(float& w, float& x, float& y, float& z) {
    if (!HasBits(readOffset, 52)) return false;
    const uint64_t packed = PeekBits(readOffset, 52);
    readOffset += 52;
    const float cx = float(WireOrder(uint32_t(packed >> 32) & 0xFFFFu, 2)) / 65535.0f;
    const float cy = float(WireOrder(uint32_t(packed >> 16) & 0xFFFFu, 2)) / 65535.0f;
    const float cz = float(WireOrder(uint32_t(packed) & 0xFFFFu, 2)) / 65535.0f;
    float rest = 1.0f - cx * cx;
    rest = rest - cy * cy;
    rest = rest - cz * cz;
    const float cw = std::sqrt(rest > 0.0f ? rest : 0.0f);
    w = (packed >> 51) & 1u ? -cw : cw;
    x = (packed >> 50) & 1u ? -cx : cx;
    y = (packed >> 49) & 1u ? -cy : cy;
    z = (packed >> 48) & 1u ? -cz : cz;
    return true;
}

// ---- diagnostics ----------------------------------------------------------------------------

void BitStream::PrintBits(char* out, uint32_t outSize) const {
    if (out == nullptr || outSize == 0) return;
    uint32_t used = 0;
    auto put = [&](char c) {
        if (used + 1 < outSize) out[used++] = c;
    };
    if (numberOfBitsUsed <= 0) {
        for (const char* p = "No bits\n"; *p != '\0'; ++p) put(*p);
    } else {
        int64_t bytes = (int64_t(numberOfBitsUsed) + 7) >> 3;
        for (int64_t i = 0; i < bytes; ++i) {
            int64_t bitsHere = i == bytes - 1 ? int64_t(numberOfBitsUsed) - i * 8 : 8;
            for (int64_t b = 0; b < bitsHere; ++b) put((data[i] & (0x80u >> b)) != 0 ? '1' : '0');
            put(' ');
        }
        put('\n');
    }
    out[used] = '\0';
}

void BitStream::PrintBits() const {
    if (numberOfBitsUsed <= 0) {
        std::fputs("No bits\n", stdout);
        return;
    }
    int64_t bytes = (int64_t(numberOfBitsUsed) + 7) >> 3;
    for (int64_t i = 0; i < bytes; ++i) {
        int64_t bitsHere = i == bytes - 1 ? int64_t(numberOfBitsUsed) - i * 8 : 8;
        char text[10];
        int n = 0;
        for (int64_t b = 0; b < bitsHere; ++b) text[n++] = (data[i] & (0x80u >> b)) != 0 ? '1' : '0';
        text[n++] = ' ';
        text[n] = '\0';
        std::fputs(text, stdout);
    }
    std::fputc('\n', stdout);
}

void BitStream::ReverseBytes(const uint8_t* source, uint8_t* destination, uint32_t length) {
    if (source == nullptr || destination == nullptr) return;
    if (source == destination) {
        for (uint32_t i = 0; i < length / 2; ++i) {
            uint8_t t = destination[i];
            destination[i] = destination[length - 1 - i];
            destination[length - 1 - i] = t;
        }
        return;
    }
    for (uint32_t i = 0; i < length; ++i) destination[i] = source[length - 1 - i];
}

}  // namespace velt
