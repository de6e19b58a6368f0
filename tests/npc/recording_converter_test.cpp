// The older recording layouts rewritten into the current one: field by field for driving, the
// sizes, and files that are left alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/LittleEndian.h"
#include "npc/NpcRecordingConverter.h"
#include "server/shared/RecordingFile.h"

namespace velt {
namespace {

std::vector<uint8_t> OldDriverRecord(uint32_t time) {
    std::vector<uint8_t> r(kOldDriverRecordSize, 0);
    WriteU32(r.data(), time);
    uint8_t* b = r.data() + 4;
    WriteU16(b, 42);          // vehicle
    WriteU16(b + 2, 0xFF80);  // left-right
    WriteU16(b + 4, 128);     // up-down
    WriteU16(b + 6, 8);       // keys
    WriteF32(b + 8, 1.0f);    // right = x
    WriteF32(b + 24, 1.0f);   // up = y
    WriteF32(b + 32, 10.0f);
    WriteF32(b + 36, 20.0f);
    WriteF32(b + 40, 30.0f);
    WriteF32(b + 44, 0.5f);
    WriteF32(b + 56, 999.0f);
    b[60] = 77;
    b[61] = 33;
    b[62] = 0xC0 | 31;
    b[63] = 1;
    WriteU32(b + 67, 0xA1B2C3D4u);
    return r;
}

TEST(RecordingConverter, DriverRecordsBecomeCurrentBlocks) {
    std::vector<uint8_t> old;
    for (uint32_t i = 0; i < 10; ++i) {
        const std::vector<uint8_t> r = OldDriverRecord(i * 50);
        old.insert(old.end(), r.begin(), r.end());
    }
    ASSERT_EQ(old.size(), 750u);
    std::vector<uint8_t> converted;
    ASSERT_TRUE(ConvertOldRecording(old.data(), old.size(), RECORDING_DRIVER, converted));
    ASSERT_EQ(converted.size(), 678u);
    Recording rec;
    ASSERT_EQ(ParseRecording(converted.data(), converted.size(), RECORDING_DRIVER, rec), RecordingStatus::Ok);
    ASSERT_EQ(rec.Count(), 10u);
    EXPECT_EQ(rec.times[9], 450u);
    const InCarSyncRecord& r = rec.driver[3];
    EXPECT_EQ(r.vehicleId, 42);
    EXPECT_EQ(r.lrKeys, 0xFF80);
    EXPECT_EQ(r.udKeys, 128);
    EXPECT_EQ(r.keys, 8);
    EXPECT_NEAR(r.rotation.w, 1.0f, 1e-6f);
    EXPECT_NEAR(r.rotation.x, 0.0f, 1e-6f);
    EXPECT_EQ(r.position.y, 20.0f);
    EXPECT_EQ(r.velocity.x, 0.5f);
    EXPECT_EQ(r.vehicleHealth, 999.0f);
    EXPECT_EQ(r.playerHealth, 77);
    EXPECT_EQ(r.armour, 33);
    EXPECT_EQ(r.weaponId, 31);
    EXPECT_EQ(r.additionalKeys, 0);
    EXPECT_EQ(r.sirenState, 1);
    EXPECT_EQ(r.landingGearState, 0);
    EXPECT_EQ(r.trailerId, 0);
    EXPECT_EQ(r.trainSpeed, 0xA1B2C3D4u);
}

TEST(RecordingConverter, OnFootKeepsTheOldBytesAndFilesAreReplacedOnlyWhole) {
    char tmpl[] = "/tmp/velt_convert_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string path = std::string(tmpl) + "/walk.rec";
    std::vector<uint8_t> old(2 * kOldOnFootRecordSize);
    for (size_t i = 0; i < old.size(); ++i) old[i] = uint8_t(i + 1);
    auto write = [&](const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    auto read = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    };
    write(old);
    ASSERT_TRUE(ConvertRecordingFile(path.c_str(), RECORDING_ONFOOT));
    const std::vector<uint8_t> now = read();
    ASSERT_EQ(now.size(), 8u + 2 * 72);
    EXPECT_EQ(ReadU32(now.data()), 1000u);
    EXPECT_EQ(ReadU32(now.data() + 4), 2u);
    // Second record: its time and 52 block bytes as they were, then 16 zero bytes.
    EXPECT_TRUE(std::equal(old.begin() + 56, old.end(), now.begin() + 8 + 72));
    EXPECT_TRUE(std::all_of(now.end() - 16, now.end(), [](uint8_t b) { return b == 0; }));

    const std::vector<uint8_t> odd(100, 7);
    write(odd);
    EXPECT_FALSE(ConvertRecordingFile(path.c_str(), RECORDING_ONFOOT));
    EXPECT_FALSE(ConvertRecordingFile(path.c_str(), 3));
    EXPECT_EQ(read(), odd);
    EXPECT_FALSE(ConvertRecordingFile((std::string(tmpl) + "/missing.rec").c_str(), RECORDING_ONFOOT));
    std::filesystem::remove_all(tmpl);
}

}  // namespace
}  // namespace velt
