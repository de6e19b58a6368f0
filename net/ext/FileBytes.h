#pragma once
// Reading files of the file list: regular files only, never through a symbolic link, and never
// more bytes than the caller allows, whatever the file claims or grows to meanwhile.

#include <cstdint>
#include <string>
#include <vector>

namespace velt {

// Size of the regular file at path (a link is not followed). False when there is none.
bool RegularFileSize(const std::string& path, uint64_t& size);

// The whole regular file at path into out. False (out empty) when it cannot be opened, is not a
// regular file, or holds more than maxBytes.
bool ReadRegularFile(const std::string& path, uint32_t maxBytes, std::vector<uint8_t>& out);

}  // namespace velt
