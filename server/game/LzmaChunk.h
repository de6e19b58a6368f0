#pragma once

// One chunk of a model download compressed the way clients decode it: raw LZMA1 (lc 3, lp 0,
// pb 2, 64 KiB dictionary), no header, no property bytes and no end marker; the client knows the
// chunk's length from the message that carries it.

#include <cstddef>
#include <cstdint>

namespace velt {

inline constexpr size_t kDownloadChunkSize = 4096;
// Room for the compressed form of any chunk, however incompressible: LZMA1 can grow its input by
// up to about a third in the worst case, plus the range coder's flush.
inline constexpr size_t kLzmaChunkBound = kDownloadChunkSize + kDownloadChunkSize / 3 + 128;

// Compresses `length` bytes (at most kDownloadChunkSize) into `out` of `capacity` bytes. Returns
// the compressed length, or 0 and the library's error code in `error` when it fails.
size_t CompressDownloadChunk(const uint8_t* data, size_t length, uint8_t* out, size_t capacity, int& error);

}  // namespace velt
