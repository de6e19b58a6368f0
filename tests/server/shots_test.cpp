// Shot validation at its boundaries with the warning lines, and the bullet reader: the scripts
// hear a shot before it is checked and may refuse it; accepted shots reach every streamer.

#include <cmath>

#include "net/MessageIdentifiers.h"
#include "server/game/PlayerShots.h"
#include "server/protocol/ShotHandlers.h"
#include "server/protocol/SyncHandlers.h"
#include "server/world/ObjectPool.h"
#include "tests/server/game_server_fixture.h"

namespace velt::test {
namespace {

class ShotsTest : public GameServerTest {
protected:
    void SetUp() override {
        GameServerTest::SetUp();
        Start();
        Join(0, "Shooter");
        Join(1, "Target");
        player(0)->StreamInPlayer(1);
    }
    static BulletSyncRecord Shot(uint8_t weapon, uint8_t hitType, uint16_t hitId, float offset) {
        BulletSyncRecord r;
        r.weaponId = weapon;
        r.hitType = hitType;
        r.hitId = hitId;
        r.offset = {offset, -offset, offset};
        return r;
    }
};

TEST_F(ShotsTest, ValidateShotTable) {
    const char* offsetLine = "[warning] Invalid shot data for player(0). Offset out of bounds.";
    const char* boundsLine = "[warning] Invalid shot data for player(0). Shot out of bounds.";
    const char* selfLine = "[warning] Invalid shot data for player(0). Player shoots self.";
    struct Case {
        const char* what;
        BulletSyncRecord shot;
        int accepted;
        const char* line;  // the warning it logs, or null
    };
    const float nan = std::nanf("");
    const Case cases[] = {
        {"weapon 38", Shot(38, BULLET_HIT_NONE, 0xFFFF, 1.0f), 1, nullptr},
        {"weapon 22", Shot(22, BULLET_HIT_NONE, 0xFFFF, 1.0f), 1, nullptr},
        {"weapon 35", Shot(35, BULLET_HIT_NONE, 0xFFFF, 1.0f), 0, nullptr},
        {"weapon 36", Shot(36, BULLET_HIT_NONE, 0xFFFF, 1.0f), 0, nullptr},
        {"weapon 37", Shot(37, BULLET_HIT_NONE, 0xFFFF, 1.0f), 0, nullptr},
        {"weapon 39", Shot(39, BULLET_HIT_NONE, 0xFFFF, 1.0f), 0, nullptr},
        {"player hit at 1000.0", Shot(24, BULLET_HIT_PLAYER, 1, 1000.0f), 1, nullptr},
        {"player hit at 1000.5", Shot(24, BULLET_HIT_PLAYER, 1, 1000.5f), 0, offsetLine},
        {"miss at 19999.9", Shot(24, BULLET_HIT_NONE, 0xFFFF, 19999.9f), 1, nullptr},
        {"miss at 20000", Shot(24, BULLET_HIT_NONE, 0xFFFF, 20000.0f), 1, nullptr},
        {"miss beyond 20000", Shot(24, BULLET_HIT_NONE, 0xFFFF, 20000.5f), 0, boundsLine},
        {"player hit at 19999.9", Shot(24, BULLET_HIT_PLAYER, 1, 19999.9f), 0, offsetLine},
        {"object hit at 1000.5", Shot(24, BULLET_HIT_OBJECT, 5, 1000.5f), 0, offsetLine},
        {"miss with no number", Shot(24, BULLET_HIT_NONE, 0xFFFF, nan), 0, boundsLine},
        {"shooting himself", Shot(24, BULLET_HIT_PLAYER, 0, 1.0f), 0, selfLine},
        {"player not streamed in", Shot(24, BULLET_HIT_PLAYER, 2, 1.0f), 0, nullptr},
        {"player id beyond 999", Shot(24, BULLET_HIT_PLAYER, 1000, 1.0f), 0, nullptr},
        {"vehicle that does not exist", Shot(24, BULLET_HIT_VEHICLE, 7, 1.0f), 0, nullptr},
    };
    for (const Case& c : cases) {
        std::filesystem::resize_file("server_log.txt", 0);
        EXPECT_EQ(ValidateShot(*game_, *player(0), c.shot), c.accepted) << c.what;
        const std::vector<std::string> lines = LogLines();
        if (c.line != nullptr)
            EXPECT_EQ(lines, std::vector<std::string>{c.line}) << c.what;
        else
            EXPECT_TRUE(lines.empty()) << c.what;
    }
}

TEST_F(ShotsTest, ReaderDropsRecordsNoShotCanHave) {
    const float inf = INFINITY;
    BulletSyncRecord farOrigin = Shot(24, BULLET_HIT_NONE, 0xFFFF, 1.0f);
    farOrigin.origin.y = inf;
    const BulletSyncRecord bad[] = {
        Shot(47, BULLET_HIT_NONE, 0xFFFF, 1.0f),
        Shot(24, 5, 0, 1.0f),
        Shot(24, BULLET_HIT_PLAYER, 1000, 1.0f),
        Shot(24, BULLET_HIT_VEHICLE, 2000, 1.0f),
        Shot(24, BULLET_HIT_OBJECT, 2000, 1.0f),
        Shot(24, BULLET_HIT_NONE, 0xFFFF, inf),
        farOrigin,
    };
    for (const BulletSyncRecord& r : bad) EXPECT_FALSE(IsSaneBulletRecord(r));
    EXPECT_TRUE(IsSaneBulletRecord(Shot(24, BULLET_HIT_PLAYER, 999, 1.0f)));
    EXPECT_TRUE(IsSaneBulletRecord(Shot(36, BULLET_HIT_NONE, 0xFFFF, 1.0f)));
}

TEST_F(ShotsTest, ReaderRelaysAcceptedShotsToEveryStreamer) {
    player(1)->StreamInPlayer(0);
    auto shotsTo1 = [&] {
        size_t n = 0;
        for (const auto& m : net_->To(FakeNetServer::AddressOf(1)))
            n += !m.isRpc && !m.bytes.empty() && m.bytes[0] == ID_BULLET_SYNC ? 1 : 0;
        return n;
    };
    auto send = [&](const BulletSyncRecord& r) {
        std::vector<uint8_t> bytes(1 + BulletSyncRecord::kSize, ID_BULLET_SYNC);
        Encode(r, bytes.data() + 1);
        net_->QueuePacket(0, bytes);
        ASSERT_TRUE(DispatchGamePacket(*game_, net_->packets.back(), ID_BULLET_SYNC));
    };
    send(Shot(24, BULLET_HIT_PLAYER, 1, 2.0f));
    ASSERT_EQ(shotsTo1(), 1u);
    const auto relayed = net_->To(FakeNetServer::AddressOf(1)).back();
    ASSERT_EQ(relayed.bytes.size(), 3 + BulletSyncRecord::kSize);
    EXPECT_EQ(relayed.bytes[1] | relayed.bytes[2] << 8, 0);
    send(Shot(24, BULLET_HIT_PLAYER, 1, 2000.0f));
    send(Shot(39, BULLET_HIT_NONE, 0xFFFF, 2.0f));
    EXPECT_EQ(shotsTo1(), 1u);
}

// The client names every object hit as a global object's: an id that only the shooter's own
// objects hold goes out as a player-object hit, anything else as it came.
TEST_F(ShotsTest, ObjectHitsOnTheShootersOwnObjectsBecomePlayerObjectHits) {
    player(1)->StreamInPlayer(0);
    ObjectPool* objects = game_->GetObjectPool();
    ASSERT_NE(objects, nullptr);
    const uint16_t global = objects->Create(1337, {}, {}, 300.0f);
    const uint16_t own = objects->CreatePlayerObject(0, 1338, {}, {}, 300.0f);
    // Player 1's second object, so that its id is one player 0 does not hold.
    objects->CreatePlayerObject(1, 1339, {}, {}, 300.0f);
    const uint16_t othersOwn = objects->CreatePlayerObject(1, 1339, {}, {}, 300.0f);
    ASSERT_NE(global, own);
    ASSERT_FALSE(objects->PlayerObjectExists(0, othersOwn));
    struct Case {
        uint16_t hitId;
        uint8_t relayedType;
    };
    for (const Case c : {Case{global, BULLET_HIT_OBJECT}, Case{own, BULLET_HIT_PLAYER_OBJECT},
                         Case{othersOwn, BULLET_HIT_OBJECT}, Case{1999, BULLET_HIT_OBJECT}}) {
        std::vector<uint8_t> bytes(1 + BulletSyncRecord::kSize, ID_BULLET_SYNC);
        Encode(Shot(24, BULLET_HIT_OBJECT, c.hitId, 2.0f), bytes.data() + 1);
        net_->QueuePacket(0, bytes);
        ASSERT_TRUE(DispatchGamePacket(*game_, net_->packets.back(), ID_BULLET_SYNC));
        const auto relayed = net_->To(FakeNetServer::AddressOf(1)).back();
        ASSERT_EQ(relayed.bytes.size(), 3 + BulletSyncRecord::kSize);
        EXPECT_EQ(relayed.bytes[3], c.relayedType) << c.hitId;
    }
}

}  // namespace
}  // namespace velt::test
