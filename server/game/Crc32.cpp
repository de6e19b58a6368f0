#include "server/game/Crc32.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <limits>

namespace velt {

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~crc;
    for (size_t i = 0; i < length; ++i) c = kTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

FileCrc FileCrc32(const char* path) {
    FileCrc out;
    std::FILE* f = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (f == nullptr) return out;
    // Only plain files: a pipe or a device would never end (or block the main thread).
    struct stat info {};
    if (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(f);
        return out;
    }
    uint8_t block[1024];
    uint64_t size = 0;
    uint32_t crc = 0;
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
        crc = Crc32Update(crc, block, n);
        size += n;
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed || size > uint64_t(std::numeric_limits<int32_t>::max())) return out;
    out.size = int32_t(size);
    out.crc = crc;
    return out;
}

}  // namespace velt
