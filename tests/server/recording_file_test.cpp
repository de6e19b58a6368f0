#include "server/shared/RecordingFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velt {
namespace {

namespace fs = std::filesystem;

class RecordingFileTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("velt_recording_test_" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }

    static std::vector<uint8_t> ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
};

InCarSyncRecord Car(uint16_t n) {
    InCarSyncRecord r;
    r.vehicleId = n;
    r.keys = uint16_t(n * 3);
    r.position = {float(n), -float(n), 0.5f};
    r.rotation = {1.0f, 0.0f, 0.0f, 0.0f};
    r.vehicleHealth = 1000.0f - float(n);
    r.weaponId = 31;
    r.additionalKeys = 1;
    r.trainSpeed = 0xA0B0C0D0u + n;
    return r;
}

OnFootSyncRecord Walk(uint16_t n) {
    OnFootSyncRecord r;
    r.keys = n;
    r.position = {float(n), 2.0f, 3.0f};
    r.health = 100;
    r.surfingId = 0xFFFF;
    r.animation = -int32_t(n);
    return r;
}

template <class T>
std::vector<uint8_t> Bytes(const T& r) {
    std::vector<uint8_t> b(T::kSize);
    Encode(r, b.data());
    return b;
}

TEST_F(RecordingFileTest, DriverAndOnFootRoundTrip) {
    RecordingWriter w;
    ASSERT_TRUE(w.Open(Path("car.rec").c_str(), RECORDING_DRIVER));
    EXPECT_EQ(w.Type(), RECORDING_DRIVER);
    for (uint16_t i = 1; i <= 3; ++i) EXPECT_TRUE(w.Append(i * 100u, Car(i)));
    EXPECT_FALSE(w.Append(400, Walk(1)));  // the other kind is not recorded
    w.Close();
    EXPECT_FALSE(w.IsOpen());

    const auto bytes = ReadAll(Path("car.rec"));
    ASSERT_EQ(bytes.size(), 8u + 3u * 67u);
    const std::vector<uint8_t> header = {0xE8, 0x03, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8), header);
    // Second block: time 200 little-endian, then the record's own bytes.
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 75, bytes.begin() + 79),
              (std::vector<uint8_t>{200, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 79, bytes.begin() + 79 + 63), Bytes(Car(2)));

    Recording car;
    ASSERT_EQ(LoadRecording(Path("car.rec").c_str(), RECORDING_DRIVER, car), RecordingStatus::Ok);
    EXPECT_EQ(car.type, RECORDING_DRIVER);
    ASSERT_EQ(car.Count(), 3u);
    EXPECT_TRUE(car.onFoot.empty());
    for (uint16_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(car.times[i - 1], i * 100u);
        EXPECT_EQ(Bytes(car.driver[i - 1]), Bytes(Car(i)));
    }

    ASSERT_TRUE(w.Open(Path("walk.rec").c_str(), RECORDING_ONFOOT));
    EXPECT_FALSE(w.Append(0, Car(1)));
    for (uint16_t i = 0; i < 5; ++i) EXPECT_TRUE(w.Append(i * 33u, Walk(i)));
    w.Close();
    EXPECT_EQ(ReadAll(Path("walk.rec")).size(), 8u + 5u * 72u);
    Recording walk;
    ASSERT_EQ(LoadRecording(Path("walk.rec").c_str(), RECORDING_NONE, walk), RecordingStatus::Ok);
    EXPECT_EQ(walk.type, RECORDING_ONFOOT);
    ASSERT_EQ(walk.Count(), 5u);
    EXPECT_EQ(walk.times[4], 132u);
    EXPECT_EQ(Bytes(walk.onFoot[4]), Bytes(Walk(4)));
}

TEST_F(RecordingFileTest, ReopenReplacesAndHeaderOnlyLoadsEmpty) {
    RecordingWriter w;
    ASSERT_TRUE(w.Open(Path("a.rec").c_str(), RECORDING_ONFOOT));
    ASSERT_TRUE(w.Append(10, Walk(1)));
    // Opening again closes the first recording complete and starts over with a fresh header.
    ASSERT_TRUE(w.Open(Path("a.rec").c_str(), RECORDING_DRIVER));
    w.Close();
    EXPECT_EQ(ReadAll(Path("a.rec")), (std::vector<uint8_t>{0xE8, 0x03, 0, 0, 1, 0, 0, 0}));
    Recording r;
    ASSERT_EQ(LoadRecording(Path("a.rec").c_str(), RECORDING_DRIVER, r), RecordingStatus::Ok);
    EXPECT_EQ(r.Count(), 0u);

    EXPECT_FALSE(w.Open(Path("b.rec").c_str(), 0));
    EXPECT_FALSE(w.Open(Path("b.rec").c_str(), 3));
    EXPECT_FALSE(fs::exists(Path("b.rec")));
    EXPECT_FALSE(w.Open(Path("no/such/dir/c.rec").c_str(), RECORDING_DRIVER));
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(w.Append(0, Car(1)));
}

std::vector<uint8_t> Image(uint32_t version, uint32_t type, size_t bodyBytes) {
    std::vector<uint8_t> b = {uint8_t(version),       uint8_t(version >> 8), uint8_t(version >> 16),
                              uint8_t(version >> 24), uint8_t(type),         uint8_t(type >> 8),
                              uint8_t(type >> 16),    uint8_t(type >> 24)};
    b.resize(8 + bodyBytes, 0x5A);
    return b;
}

TEST_F(RecordingFileTest, CorruptFilesAreRefused) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int32_t requested;
        RecordingStatus status;
        size_t count;
    };
    const Case cases[] = {
        {"empty file", {}, RECORDING_NONE, RecordingStatus::ShortHeader, 0},
        {"half a header", {0xE8, 0x03, 0, 0, 1, 0, 0}, RECORDING_NONE, RecordingStatus::ShortHeader, 0},
        {"older headerless layout", Image(0, 0x3F800000, 67), RECORDING_DRIVER, RecordingStatus::OtherVersion,
         0},
        {"version 999", Image(999, 1, 0), RECORDING_NONE, RecordingStatus::OtherVersion, 0},
        {"type 0", Image(1000, 0, 0), RECORDING_NONE, RecordingStatus::BadType, 0},
        {"type 3", Image(1000, 3, 72), RECORDING_NONE, RecordingStatus::BadType, 0},
        {"type -1", Image(1000, 0xFFFFFFFFu, 67), RECORDING_NONE, RecordingStatus::BadType, 0},
        {"driver block cut short", Image(1000, 1, 2 * 67 - 1), RECORDING_NONE, RecordingStatus::PartialRecord,
         0},
        {"driver plus a stray byte", Image(1000, 1, 67 + 1), RECORDING_DRIVER, RecordingStatus::PartialRecord,
         0},
        {"on foot sized as driver", Image(1000, 2, 67), RECORDING_ONFOOT, RecordingStatus::PartialRecord, 0},
        {"driver asked as on foot", Image(1000, 1, 72 * 67), RECORDING_ONFOOT, RecordingStatus::TypeMismatch,
         0},
        {"on foot asked as driver", Image(1000, 2, 72), RECORDING_DRIVER, RecordingStatus::TypeMismatch, 0},
        {"two driver blocks", Image(1000, 1, 2 * 67), RECORDING_DRIVER, RecordingStatus::Ok, 2},
        {"one on-foot block", Image(1000, 2, 72), RECORDING_NONE, RecordingStatus::Ok, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording out;
        out.type = 77;  // refusals leave the caller's value alone
        EXPECT_EQ(ParseRecording(c.bytes.data(), c.bytes.size(), c.requested, out), c.status);
        if (c.status != RecordingStatus::Ok) {
            EXPECT_EQ(out.type, 77);
            continue;
        }
        EXPECT_EQ(out.Count(), c.count);
        // The same verdict through the file reader.
        {
            std::ofstream f(Path("c.rec"), std::ios::binary | std::ios::trunc);
            f.write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
        }
        Recording fromFile;
        EXPECT_EQ(LoadRecording(Path("c.rec").c_str(), c.requested, fromFile), c.status);
        EXPECT_EQ(fromFile.Count(), c.count);
    }
}

TEST_F(RecordingFileTest, UnreadableAndOversizedFiles) {
    Recording r;
    EXPECT_EQ(LoadRecording(Path("missing.rec").c_str(), RECORDING_NONE, r), RecordingStatus::CannotOpen);
    EXPECT_EQ(LoadRecording(dir_.c_str(), RECORDING_NONE, r), RecordingStatus::CannotOpen);
    EXPECT_EQ(LoadRecording(nullptr, RECORDING_NONE, r), RecordingStatus::CannotOpen);
    { std::ofstream f(Path("empty.rec"), std::ios::binary); }
    EXPECT_EQ(LoadRecording(Path("empty.rec").c_str(), RECORDING_NONE, r), RecordingStatus::ShortHeader);

    // A sparse file past the cap is refused from its size, before anything is allocated.
    const std::string big = Path("big.rec");
    {
        std::ofstream f(big, std::ios::binary);
        const auto image = Image(1000, 1, 0);
        f.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }
    fs::resize_file(big, kMaxRecordingBytes + 1);
    EXPECT_EQ(LoadRecording(big.c_str(), RECORDING_NONE, r), RecordingStatus::TooLarge);
    EXPECT_EQ(r.type, RECORDING_NONE);
}

}  // namespace
}  // namespace velt
