#pragma once

// Rewrites a recording of the older, headerless layout into the current one (a header, then
// 63-byte driver or 68-byte on-foot blocks), so that it plays at the bot's next start.
//
// Older layout: records of a u32 time and one block, 75 bytes each for driving (a 71-byte block:
// ids and keys, the "right" and "up" rows of the rotation, position, velocity, vehicle health,
// player health, armour, weapon, siren, three unused bytes, then four bytes that become the last
// field), 56 bytes each on foot (a 52-byte block that is the start of the current one).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velt {

inline constexpr size_t kOldDriverRecordSize = 75;
inline constexpr size_t kOldOnFootRecordSize = 56;

// The current file for an old file image of `type`; false (out untouched) for another type or an
// image that is not a whole number of old records.
bool ConvertOldRecording(const uint8_t* data, size_t size, int32_t type, std::vector<uint8_t>& out);

// Converts the file at path in place. False, with the file as it was, when it cannot be read, is
// not a whole number of old records, or the new file cannot be written: the new content goes to
// a file beside it first and replaces the old one only once complete.
bool ConvertRecordingFile(const char* path, int32_t type);

}  // namespace velt
