#pragma once

// Ground height of the game world: a 6000 x 6000 grid of signed 16-bit centimetre values,
// row 0 at the northern edge (y = 3000), column 0 at the western edge (x = -3000), stored
// little-endian in file order.
//
// The whole grid is 72 MB, so it is never read in one go: Load only checks and opens the file,
// and each row is read the first time a height on it is asked for. Memory therefore grows with
// the part of the world actually queried.

#include <cstdint>
#include <memory>

namespace velt {

class HeightMap {
public:
    static constexpr int kSide = 6000;
    static constexpr std::int64_t kFileSize = std::int64_t{kSide} * kSide * 2;
    static constexpr const char* kDefaultPath = "scriptfiles/CVfull.hmap";

    static constexpr int kStateEmpty = 0;
    static constexpr int kStateLoaded = 2;
    static constexpr int kLoadMode = 2;

    // Results of Load.
    static constexpr int kLoadOk = 0;  // also when already loaded
    static constexpr int kLoadBadMode = 1;
    static constexpr int kLoadNoMemory = 2;
    static constexpr int kLoadNoFile = 3;     // missing, unreadable or not a regular file
    static constexpr int kLoadShortFile = 4;  // fewer bytes than the full grid

    HeightMap() = default;
    ~HeightMap();
    HeightMap(const HeightMap&) = delete;
    HeightMap& operator=(const HeightMap&) = delete;

    int Load(int mode, const char* path = kDefaultPath);

    // Height in metres; 0.0 when nothing is loaded, outside -3000 <= x < 3000 and
    // -3000 < y <= 3000 (NaN included), or when the row cannot be read.
    float GetHeight(float x, float y) const;

    int State() const { return state_; }

private:
    const std::int16_t* Row(int row) const;

    int state_ = kStateEmpty;
    int fd_ = -1;
    // One slot per row, filled on first use. Rows read from the file never change, so caching
    // them behind a const query is safe.
    mutable std::unique_ptr<std::unique_ptr<std::int16_t[]>[]> rows_;
};

}  // namespace velt
