#include "server/shared/HeightMap.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace velt {
namespace {

// A full-size map file that is sparse on disk: ftruncate gives the 72 MB of zeros for free and
// only the few samples the test reads are written.
class HeightMapFile : public testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/velt_height_map_XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        path_ = dir_ + "/CVfull.hmap";
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd_, 0);
        ASSERT_EQ(::ftruncate(fd_, HeightMap::kFileSize), 0);
    }
    void TearDown() override {
        if (fd_ >= 0) ::close(fd_);
        std::remove(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    void PutSample(int row, int column, std::int16_t centimetres) {
        const auto bits = static_cast<std::uint16_t>(centimetres);
        const unsigned char bytes[2] = {static_cast<unsigned char>(bits & 0xFF),
                                        static_cast<unsigned char>(bits >> 8)};
        const off_t offset = (static_cast<off_t>(row) * HeightMap::kSide + column) * 2;
        ASSERT_EQ(::pwrite(fd_, bytes, 2, offset), 2);
    }

    std::string dir_, path_;
    int fd_ = -1;
};

TEST_F(HeightMapFile, ReadsLittleEndianSamplesAtTheirGridCells) {
    PutSample(3000, 3000, 1234);    // (0, 0)
    PutSample(0, 0, -250);          // north-west corner: x = -3000, y = 3000
    PutSample(5999, 5999, 32767);   // south-east corner
    PutSample(3000, 3001, -32768);  // x in [1, 2)
    PutSample(2999, 3000, 0x0102);  // y in [1, 2): proves the byte order

    HeightMap map;
    EXPECT_EQ(map.GetHeight(0.0f, 0.0f), 0.0f);  // nothing loaded yet
    EXPECT_EQ(map.Load(1, path_.c_str()), HeightMap::kLoadBadMode);
    ASSERT_EQ(map.Load(HeightMap::kLoadMode, path_.c_str()), HeightMap::kLoadOk);
    EXPECT_EQ(map.State(), HeightMap::kStateLoaded);
    EXPECT_EQ(map.Load(HeightMap::kLoadMode, "/nonexistent"), HeightMap::kLoadOk);  // already loaded

    struct Case {
        float x, y, metres;
    };
    const Case cases[] = {
        {0.0f, 0.0f, 12.34f},       {0.9f, 0.9f, 12.34f},  // truncation, not rounding
        {-0.9f, -0.9f, 12.34f},                            // toward zero on both sides
        {-3000.0f, 3000.0f, -2.5f}, {2999.9f, -2999.9f, 327.67f}, {1.5f, 0.0f, -327.68f},
        {0.0f, 1.0f, 2.58f},     // 0x0102 centimetres
        {3000.0f, 0.0f, 0.0f},   // x range is half-open at the top
        {0.0f, -3000.0f, 0.0f},  // y range is half-open at the bottom
        {-3000.1f, 0.0f, 0.0f},     {0.0f, 3000.1f, 0.0f},        {NAN, 0.0f, 0.0f},
        {0.0f, NAN, 0.0f},          {INFINITY, 0.0f, 0.0f},
    };
    for (const auto& c : cases) EXPECT_FLOAT_EQ(map.GetHeight(c.x, c.y), c.metres) << c.x << ", " << c.y;
}

TEST_F(HeightMapFile, RefusesMissingShortAndNonRegularFiles) {
    HeightMap map;
    EXPECT_EQ(map.Load(HeightMap::kLoadMode, (dir_ + "/absent.hmap").c_str()), HeightMap::kLoadNoFile);
    EXPECT_EQ(map.Load(HeightMap::kLoadMode, dir_.c_str()), HeightMap::kLoadNoFile);
    EXPECT_EQ(map.Load(HeightMap::kLoadMode, nullptr), HeightMap::kLoadNoFile);

    // One sample short of the grid: refusing beats serving zeros for part of the world.
    ASSERT_EQ(::ftruncate(fd_, HeightMap::kFileSize - 2), 0);
    EXPECT_EQ(map.Load(HeightMap::kLoadMode, path_.c_str()), HeightMap::kLoadShortFile);
    EXPECT_EQ(map.State(), HeightMap::kStateEmpty);
    EXPECT_EQ(map.GetHeight(0.0f, 0.0f), 0.0f);

    // Once the file is whole it loads; shrinking it afterwards gives 0.0 for unread rows, not a
    // crash or stale memory.
    ASSERT_EQ(::ftruncate(fd_, HeightMap::kFileSize), 0);
    PutSample(0, 0, 500);
    PutSample(5999, 0, 700);
    ASSERT_EQ(map.Load(HeightMap::kLoadMode, path_.c_str()), HeightMap::kLoadOk);
    EXPECT_FLOAT_EQ(map.GetHeight(-3000.0f, 3000.0f), 5.0f);
    ASSERT_EQ(::ftruncate(fd_, 100), 0);
    EXPECT_FLOAT_EQ(map.GetHeight(-3000.0f, 3000.0f), 5.0f);  // row already read
    EXPECT_EQ(map.GetHeight(-3000.0f, -2999.5f), 0.0f);
}

}  // namespace
}  // namespace velt
