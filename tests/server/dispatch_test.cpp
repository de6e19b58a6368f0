// The packet loop's readers: records stored and relayed to streamers bit for bit, the timestamp
// prefix, the relay veto of OnPlayerUpdate, and every short or invalid packet dropped whole.

#include <cmath>
#include <limits>

#include "server/shared/SyncRecordsRelay.h"
#include "tests/server/dispatch_fixture.h"

namespace velt::test {
namespace {

OnFootSyncRecord Walking(float x, float y) {
    OnFootSyncRecord r;
    r.lrKeys = 0xFF80;
    r.keys = 0x0008;
    r.position = {x, y, 12.5f};
    r.rotation = {0.7071f, 0.0f, 0.0f, 0.7071f};
    r.health = 100;
    r.armour = 42;
    r.weaponId = 24;
    r.additionalKeys = 1;
    r.velocity = {0.1f, -0.2f, 0.0f};
    r.animation = 1189;
    return r;
}

class DispatchTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        StartProtocol();
        JoinAt(0, "Alice", 0.0f, 0.0f);
        JoinAt(1, "Bob", 5.0f, 5.0f);
        player(1)->StreamInPlayer(0);
        net_->sent.clear();
    }
    // What Bob, who streams Alice, receives of her after one pass.
    std::vector<FakeNetServer::Message> RelayedToBob() {
        pool()->Process(0.01f);
        return PacketsTo(1, ID_PLAYER_SYNC);
    }
};

TEST_F(DispatchTest, OnFootRecordIsStoredAndRelayedToStreamersBitExactly) {
    const OnFootSyncRecord record = Walking(10.0f, 20.0f);
    for (bool timestamped : {false, true}) {
        SCOPED_TRACE(timestamped);
        std::vector<uint8_t> packet = SyncPacket(ID_PLAYER_SYNC, record);
        SendPacket(0, timestamped ? Timestamped(packet) : packet);
        EXPECT_EQ(player(0)->GetState(), PLAYER_STATE_ONFOOT);
        EXPECT_EQ(player(0)->GetPosition().y, 20.0f);

        auto relayed = RelayedToBob();
        ASSERT_EQ(relayed.size(), 1u);
        BitStream expected;
        WriteOnFootRelay(expected, 0, record);
        EXPECT_EQ(relayed[0].bytes, Bytes(expected));
        EXPECT_EQ(relayed[0].bits, expected.GetNumberOfBitsUsed());
        EXPECT_EQ(relayed[0].reliability, RELIABILITY_UNRELIABLE_SEQUENCED);
        EXPECT_EQ(relayed[0].channel, 1);
        // Nobody streams Bob, and Alice is not sent her own record.
        EXPECT_TRUE(PacketsTo(0, ID_PLAYER_SYNC).empty());
        net_->sent.clear();
    }
}

TEST_F(DispatchTest, InvalidOnFootPacketsAreDroppedWhole) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const OnFootSyncRecord before = Walking(1.0f, 2.0f);
    SendPacket(0, SyncPacket(ID_PLAYER_SYNC, before));
    RelayedToBob();
    net_->sent.clear();

    struct Case {
        const char* what;
        uint16_t slot;
        std::vector<uint8_t> packet;
    };
    OnFootSyncRecord outside = Walking(30000.0f, 0.0f);
    OnFootSyncRecord wild = Walking(3.0f, 3.0f);
    wild.velocity.z = nan;
    OnFootSyncRecord nanPosition = Walking(nan, 3.0f);
    std::vector<uint8_t> shortOne = SyncPacket(ID_PLAYER_SYNC, Walking(4.0f, 4.0f));
    shortOne.pop_back();
    const Case cases[] = {
        {"one byte short", 0, shortOne},
        {"short behind a timestamp", 0, Timestamped(shortOne)},
        {"id alone", 0, {ID_PLAYER_SYNC}},
        {"timestamp prefix cut", 0, {40, 1, 2, 3}},
        {"outside the world", 0, SyncPacket(ID_PLAYER_SYNC, outside)},
        {"NaN velocity", 0, SyncPacket(ID_PLAYER_SYNC, wild)},
        {"NaN position", 0, SyncPacket(ID_PLAYER_SYNC, nanPosition)},
        {"slot without a player", 9, SyncPacket(ID_PLAYER_SYNC, Walking(4.0f, 4.0f))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SendPacket(c.slot, c.packet);
        EXPECT_EQ(player(0)->GetPosition().x, 1.0f);
        EXPECT_TRUE(RelayedToBob().empty());
    }
    EXPECT_EQ(net_->freedPackets, int(std::size(cases)) + 1);
}

TEST_F(DispatchTest, OnPlayerUpdateVetoSuppressesTheRelayButKeepsTheRecord) {
    struct Case {
        int32_t fs;  // -1: no filterscript defines it
        int32_t gm;
        bool relayed;
        bool gmAsked;
    };
    const Case cases[] = {
        {-1, 1, true, true}, {1, 1, true, true}, {-1, 0, false, true}, {0, 1, false, false}};
    float x = 10.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fs << "/" << c.gm);
        scripts_.filterScriptFiles = {"veto"};
        scripts_.filterScriptPublics.clear();
        if (c.fs >= 0) scripts_.filterScriptPublics["veto"]["OnPlayerUpdate"] = c.fs;
        scripts_.gameModePublics["OnPlayerUpdate"] = c.gm;
        game_->GetFilterScripts()->UnloadFilterScript("veto");
        game_->GetFilterScripts()->LoadFilterScript("veto");
        scripts_.Clear();

        x += 1.0f;
        SendPacket(0, SyncPacket(ID_PLAYER_SYNC, Walking(x, 0.0f)));
        EXPECT_EQ(player(0)->GetPosition().x, x);
        EXPECT_EQ(RelayedToBob().size(), c.relayed ? 1u : 0u);
        EXPECT_EQ(CallsNamed("OnPlayerUpdate").size(), (c.fs >= 0 ? 1u : 0u) + (c.gmAsked ? 1u : 0u));
        net_->sent.clear();
    }
}

TEST_F(DispatchTest, WeaponsUpdateReadsWholeEntriesOnly) {
    struct Case {
        const char* what;
        std::vector<uint8_t> body;  // after the id byte
        uint16_t targetPlayer;
        std::vector<std::pair<int, int>> weapons;  // slot, weapon stored
    };
    const Case cases[] = {
        {"header cut", {1, 0, 2}, kNoPlayer, {}},
        {"header alone", {1, 0, 0xFF, 0xFF}, 1, {}},
        {"one entry and a partial one", {1, 0, 0xFF, 0xFF, 2, 24, 50, 0, 3, 25, 9}, 1, {{2, 24}}},
        {"slot above 12 skipped", {0, 0, 0xFF, 0xFF, 13, 31, 1, 0, 5, 31, 200, 0}, 0, {{5, 31}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> packet = {ID_WEAPONS_UPDATE};
        packet.insert(packet.end(), c.body.begin(), c.body.end());
        SendPacket(1, packet);
        EXPECT_EQ(player(1)->GetTargetPlayer(), c.targetPlayer);
        for (auto [slot, weapon] : c.weapons) EXPECT_EQ(player(1)->GetWeapon(slot), weapon);
    }
    EXPECT_EQ(player(1)->GetWeapon(3), 0);  // the partial entry never landed
    EXPECT_EQ(player(1)->GetAmmo(5), 200);
}

TEST_F(DispatchTest, OtherRecordsAreStoredButNotRelayed) {
    AimSyncRecord aim;
    aim.cameraMode = 53;
    aim.cameraFront = {0.0f, 1.0f, 0.0f};
    aim.cameraPosition = {1.0f, 2.0f, 3.0f};
    SendPacket(0, SyncPacket(ID_AIM_SYNC, aim));
    EXPECT_EQ(player(0)->GetAimSync().cameraMode, 53);
    EXPECT_TRUE(player(0)->IsAimPending());

    SpectatorSyncRecord spectator;
    spectator.position = {7.0f, 8.0f, 9.0f};
    SendPacket(0, Timestamped(SyncPacket(ID_SPECTATOR_SYNC, spectator)));
    EXPECT_EQ(player(0)->GetState(), PLAYER_STATE_SPECTATING);
    EXPECT_EQ(player(0)->GetPosition().x, 7.0f);

    // Packets the readers do not take yet, and those only the server sends, are freed unread.
    for (uint8_t id : {200, 202, 206, 208, 209, 210, 211, 213}) {
        std::vector<uint8_t> packet(80, 0);
        packet[0] = id;
        SendPacket(0, packet);
    }
    EXPECT_EQ(net_->freedPackets, 10);
}

TEST_F(DispatchTest, IntermissionIgnoresRecordsButKeepsStats) {
    game_->EndGameMode();
    SendPacket(0, SyncPacket(ID_PLAYER_SYNC, Walking(33.0f, 0.0f)));
    EXPECT_NE(player(0)->GetPosition().x, 33.0f);

    StatsUpdateRecord stats{-250, 2000};
    SendPacket(0, SyncPacket(ID_STATS_UPDATE, stats));
    EXPECT_EQ(pool()->GetMoney(0), -250);
    EXPECT_EQ(pool()->GetDrunkLevel(0), 2000);
    std::vector<uint8_t> cut = SyncPacket(ID_STATS_UPDATE, StatsUpdateRecord{5, 5});
    cut.pop_back();
    SendPacket(0, cut);
    EXPECT_EQ(pool()->GetMoney(0), -250);
}

}  // namespace
}  // namespace velt::test
