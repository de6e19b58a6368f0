// Recording a player: where the file goes for any name a script gives, a restart replacing the
// first file, and a record of the other kind not written.

#include "server/game/PlayerRecording.h"
#include "tests/server/game_server_fixture.h"

namespace velt::test {
namespace {

class PlayerRecordingTest : public GameServerTest {
protected:
    void SetUp() override {
        GameServerTest::SetUp();
        std::filesystem::create_directories("scriptfiles");
        Start();
        Join(0, "Alice");
        game_->SetClock([this] { return now; });
    }
    Recording Load(const char* path) {
        Recording r;
        EXPECT_EQ(LoadRecording(path, RECORDING_NONE, r), RecordingStatus::Ok) << path;
        return r;
    }
    void Walk(uint8_t health) {
        OnFootSyncRecord r;
        r.rotation = {1, 0, 0, 0};
        r.health = health;
        player(0)->StoreOnFootSync(r);
    }
    uint32_t now = 5000;
};

TEST_F(PlayerRecordingTest, NamesAreCleanedAndEmptyOnesRefused) {
    EXPECT_TRUE(StartPlayerRecording(*player(0), RECORDING_ONFOOT, "../x", now));
    EXPECT_TRUE(std::filesystem::exists("scriptfiles/x.rec"));
    EXPECT_TRUE(StartPlayerRecording(*player(0), RECORDING_ONFOOT, "a\\b/c.d", now));
    EXPECT_TRUE(std::filesystem::exists("scriptfiles/abcd.rec"));
    for (const char* name : {"", "..", "/", "./\\"}) {
        ASSERT_TRUE(StartPlayerRecording(*player(0), RECORDING_ONFOOT, "walk", now));
        EXPECT_FALSE(StartPlayerRecording(*player(0), RECORDING_ONFOOT, name, now)) << name;
        EXPECT_FALSE(player(0)->Recording().IsOpen()) << name;
    }
    EXPECT_FALSE(std::filesystem::exists("scriptfiles/.rec"));
    EXPECT_FALSE(StartPlayerRecording(*player(0), 3, "walk", now));
}

TEST_F(PlayerRecordingTest, RestartBeginsAFreshFileAndOtherKindsAreSkipped) {
    ASSERT_TRUE(StartPlayerRecording(*player(0), RECORDING_ONFOOT, "first", now));
    now += 40;
    Walk(10);
    now += 60;
    ASSERT_TRUE(StartPlayerRecording(*player(0), RECORDING_ONFOOT, "second", now));
    now += 25;
    Walk(20);
    StopPlayerRecording(*player(0));
    Walk(30);

    Recording first = Load("scriptfiles/first.rec");
    ASSERT_EQ(first.Count(), 1u);
    EXPECT_EQ(first.times[0], 40u);
    Recording second = Load("scriptfiles/second.rec");
    ASSERT_EQ(second.Count(), 1u);
    EXPECT_EQ(second.times[0], 25u);
    EXPECT_EQ(second.onFoot[0].health, 20);

    ASSERT_TRUE(StartPlayerRecording(*player(0), RECORDING_DRIVER, "drive", now));
    Walk(40);
    StopPlayerRecording(*player(0));
    EXPECT_EQ(Load("scriptfiles/drive.rec").Count(), 0u);
}

}  // namespace
}  // namespace velt::test
