// Recording playback without the network: what goes out when, with the pause and resume ramps,
// and the bot's own vehicle and health on every block.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "NetGameFixture.h"
#include "net/MessageIdentifiers.h"
#include "npc/NpcPlayback.h"

namespace velt {
namespace {

struct Sent {
    uint32_t at;
    NpcOwnSyncKind kind;
    InCarSyncRecord inCar;
    OnFootSyncRecord onFoot;
};

class PlaybackTest : public ::testing::Test {
protected:
    // A recording of `count` records, one every 100 ms from 0, each moving 10 m/s forward.
    static Recording Make(int32_t type, size_t count) {
        Recording r;
        r.type = type;
        for (size_t i = 0; i < count; ++i) {
            r.times.push_back(uint32_t(i * 100));
            if (type == RECORDING_DRIVER) {
                InCarSyncRecord rec;
                rec.vehicleId = 777;
                rec.playerHealth = 5;
                rec.keys = 8;
                rec.position = {float(i), 0.0f, 0.0f};
                rec.velocity = {1.0f, 2.0f, 0.0f};
                r.driver.push_back(rec);
            } else {
                OnFootSyncRecord rec;
                rec.health = 5;
                rec.position = {float(i), 0.0f, 0.0f};
                r.onFoot.push_back(rec);
            }
        }
        return r;
    }

    // Frames of 10 ms until `until`.
    void RunUntil(uint32_t until) {
        while (now < until) {
            playback.Step(now, self, lastSyncSend, io);
            now += 10;
        }
    }

    NpcPlayback playback;
    NpcOwnState self;
    uint32_t now = 50000;
    uint32_t lastSyncSend = 0;
    std::vector<Sent> sent;
    int ended = 0;
    NpcPlayback::Io io{[this](NpcOwnSyncKind kind) {
                           sent.push_back({now, kind, self.inCar, self.onFoot});
                       },
                       [this] { ++ended; }};
};

TEST_F(PlaybackTest, HeaderOnlyEndsAtTheFirstStep) {
    playback.Start(Make(RECORDING_ONFOOT, 0), now);
    RunUntil(now + 10);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(playback.IsRunning());
}

TEST_F(PlaybackTest, OnFootBlocksGoOutAtTheirTimesWithFullHealth) {
    const uint32_t start = now;
    playback.Start(Make(RECORDING_ONFOOT, 3), start);
    RunUntil(start + 1000);
    ASSERT_EQ(sent.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].at, start + i * 100) << i;
        EXPECT_EQ(sent[i].kind, NpcOwnSyncKind::OnFoot);
        EXPECT_EQ(sent[i].onFoot.health, 100);
        EXPECT_EQ(sent[i].onFoot.position.x, float(i));
    }
    EXPECT_EQ(ended, 1);
}

TEST_F(PlaybackTest, DrivingWaitsForAVehicleAndCarriesTheOwnOne) {
    const uint32_t start = now;
    playback.Start(Make(RECORDING_DRIVER, 2), start);
    RunUntil(start + 500);
    EXPECT_TRUE(sent.empty());
    self.vehicleId = 12;
    RunUntil(start + 600);
    ASSERT_EQ(sent.size(), 2u);
    for (const Sent& s : sent) {
        EXPECT_EQ(s.kind, NpcOwnSyncKind::Driver);
        EXPECT_EQ(s.inCar.vehicleId, 12);
        EXPECT_EQ(s.inCar.playerHealth, 100);
    }
}

TEST_F(PlaybackTest, PauseCoastsOutThenHoldsAtRestAndResumeShiftsTheRest) {
    self.vehicleId = 3;
    const uint32_t start = now;
    playback.Start(Make(RECORDING_DRIVER, 40), start);
    RunUntil(start + 5);  // record 0 sent at once
    ASSERT_EQ(sent.size(), 1u);
    playback.Pause();
    RunUntil(start + 2500);
    // Eleven coasting records: velocity x 1.1 .. 0.1, keys 32, each 100 ms late; then at rest.
    ASSERT_GE(sent.size(), 13u);
    for (int k = 0; k < 11; ++k) {
        const Sent& s = sent[1 + k];
        EXPECT_NEAR(s.inCar.velocity.x, (11 - k) * 0.1f, 1e-5f) << k;
        EXPECT_EQ(s.inCar.keys, 32) << k;
        EXPECT_EQ(s.at, start + uint32_t(1 + k) * 100 + 100) << k;
    }
    const Sent& rest = sent[12];
    EXPECT_EQ(playback.State(), NpcPlaybackState::Paused);
    EXPECT_EQ(rest.at, sent[11].at + 10);
    EXPECT_EQ(rest.inCar.velocity.x, 0.0f);
    EXPECT_EQ(rest.inCar.keys, 0);
    EXPECT_EQ(rest.inCar.vehicleId, 3);
    const uint32_t pausedAt = rest.at;
    // Held: sent again every 2000 ms, nothing else.
    RunUntil(pausedAt + 5000);
    ASSERT_EQ(sent.size(), 15u);
    EXPECT_EQ(sent[13].at, pausedAt + 2000);
    EXPECT_EQ(sent[14].at, pausedAt + 4000);

    playback.Resume(pausedAt + 5000);
    now = pausedAt + 5000;
    RunUntil(now + 3000);
    // Record 12 was due at start + 1200; it now goes out the pause's length plus 100 ms later,
    // itself 30 ms late and at half speed for the next nine records.
    ASSERT_GT(sent.size(), 24u);
    const uint32_t shift = (pausedAt + 5000) - pausedAt + 100;
    EXPECT_EQ(sent[15].at, start + 1200 + shift + 30);
    EXPECT_NEAR(sent[15].inCar.velocity.x, 0.5f, 1e-6f);
    EXPECT_NEAR(sent[24].inCar.velocity.x, 1.0f, 1e-6f);
    EXPECT_EQ(sent[24].at, start + 2100 + shift);
}

TEST_F(PlaybackTest, ResumeWhileCoastingCancelsWithoutShift) {
    const uint32_t start = now;
    playback.Start(Make(RECORDING_ONFOOT, 30), start);
    RunUntil(start + 5);
    playback.Pause();
    RunUntil(start + 305);  // three coasting records out (on foot: unchanged, but delayed)
    playback.Resume(now);
    RunUntil(start + 3000);
    EXPECT_EQ(playback.State(), NpcPlaybackState::Stopped);
    EXPECT_EQ(ended, 1);
    // No pause took effect: the last record keeps its time.
    EXPECT_EQ(sent.back().at, start + 2900);
}

TEST_F(PlaybackTest, ResumeAfterStopSendsNothing) {
    playback.Start(Make(RECORDING_ONFOOT, 5), now);
    playback.Stop();
    playback.Resume(now);
    RunUntil(now + 1000);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(ended, 0);
    NpcPlayback fresh;
    fresh.Resume(now);
    EXPECT_FALSE(fresh.IsRunning());
}

// The game's side: the file named by the script (cleaned like the server cleans it) is loaded and
// its blocks go out as the bot's own on-foot sync; a file that cannot be played ends the bot.
class PlaybackGameTest : public test::NetGameFixture {
protected:
    size_t SentWithId(uint8_t id) const {
        size_t n = 0;
        for (const auto& m : fake.sends) n += !m.bytes.empty() && m.bytes[0] == id ? 1 : 0;
        return n;
    }
};

TEST_F(PlaybackGameTest, PlaysTheNamedFileAndEndsOnAnUnplayableOne) {
    ASSERT_TRUE(Start());
    EnterAndSpawn();
    std::filesystem::create_directories("npcmodes/recordings");
    RecordingWriter writer;
    ASSERT_TRUE(writer.Open("npcmodes/recordings/walk.rec", RECORDING_ONFOOT));
    OnFootSyncRecord r;
    r.position = {1.0f, 2.0f, 3.0f};
    for (uint32_t t : {0u, 100u, 200u}) writer.Append(t, r);
    writer.Close();
    const size_t before = SentWithId(ID_PLAYER_SYNC);
    game->StartPlayback(RECORDING_ONFOOT, "../walk.");
    for (int i = 0; i < 40; ++i) {
        clock.Advance(10);
        Frame(0.01f);
    }
    EXPECT_EQ(SentWithId(ID_PLAYER_SYNC) - before, 3u);
    EXPECT_TRUE(exits.Seen().empty());

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"short", {0xE8, 0x03, 0, 0}},
        {"othertype", {0xE8, 0x03, 0, 0, 1, 0, 0, 0}},
        {"partial", {0xE8, 0x03, 0, 0, 2, 0, 0, 0, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        std::ofstream(std::string("npcmodes/recordings/") + c.name + ".rec", std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
    }
    for (const char* name : {"missing", "empty", "short", "othertype", "partial", "..", "/"}) {
        const size_t seen = exits.Seen().size();
        game->StartPlayback(RECORDING_ONFOOT, name);
        ASSERT_EQ(exits.Seen().size(), seen + 1) << name;
        EXPECT_EQ(exits.Seen().back(), 1) << name;
    }
}

TEST_F(PlaybackGameTest, AnOlderFileIsConvertedAndTheBotEnds) {
    ASSERT_TRUE(Start());
    EnterAndSpawn();
    std::filesystem::create_directories("npcmodes/recordings");
    const std::vector<char> old(56, 1);
    std::ofstream("npcmodes/recordings/old.rec", std::ios::binary)
        .write(old.data(), std::streamsize(old.size()));
    game->StartPlayback(RECORDING_ONFOOT, "old");
    ASSERT_EQ(exits.Seen().size(), 1u);
    EXPECT_EQ(exits.Seen().back(), 1);
    Recording converted;
    ASSERT_EQ(LoadRecording("npcmodes/recordings/old.rec", RECORDING_ONFOOT, converted), RecordingStatus::Ok);
    EXPECT_EQ(converted.Count(), 1u);
}

}  // namespace
}  // namespace velt
