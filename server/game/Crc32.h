#pragma once

// The CRC-32 clients check downloaded model files with (reflected polynomial 0xEDB88320, initial
// value and final XOR 0xFFFFFFFF), over a buffer and over a file.

#include <cstddef>
#include <cstdint>

namespace velt {

// Continues `crc` (a finished CRC, 0 for none yet) over `length` more bytes.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);
inline uint32_t Crc32(const void* data, size_t length) { return Crc32Update(0, data, length); }

struct FileCrc {
    int32_t size = 0;  // 0 when the file cannot be read, is empty or is too large to announce
    uint32_t crc = 0;
};
// Size and CRC of a whole plain file. A file of 2 GiB or more cannot be announced (its size is a signed
// 32-bit field on the wire) and counts as unreadable.
FileCrc FileCrc32(const char* path);

}  // namespace velt
