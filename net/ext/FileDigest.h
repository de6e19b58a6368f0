#pragma once
// The 20-byte SHA-1 digest by which file lists tell whether two files hold the same bytes.

#include <array>
#include <cstddef>
#include <cstdint>

namespace velt {

inline constexpr uint32_t kFileDigestBytes = 20;
using FileDigest = std::array<uint8_t, kFileDigestBytes>;

FileDigest DigestOf(const uint8_t* data, size_t length);

}  // namespace velt
