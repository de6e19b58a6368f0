#pragma once

// Reads and writes of 16-, 32- and 64-bit values and floats in the little-endian byte order of every
// wire, file and script-image layout. Values are put together byte by byte, never copied as host
// words, so the layouts stay those of a 32-bit little-endian program on any host. The caller has
// checked that the bytes lie inside its buffer.

#include <bit>
#include <cstdint>

namespace velt {

inline uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

inline uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline float ReadF32(const uint8_t* p) { return std::bit_cast<float>(ReadU32(p)); }

inline void WriteU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void WriteU32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline void WriteF32(uint8_t* p, float v) { WriteU32(p, std::bit_cast<uint32_t>(v)); }

inline uint64_t ReadU64(const uint8_t* p) { return uint64_t(ReadU32(p)) | uint64_t(ReadU32(p + 4)) << 32; }

inline void WriteU64(uint8_t* p, uint64_t v) {
    WriteU32(p, uint32_t(v));
    WriteU32(p + 4, uint32_t(v >> 32));
}

inline void WriteF64(uint8_t* p, double v) { WriteU64(p, std::bit_cast<uint64_t>(v)); }

}  // namespace velt
